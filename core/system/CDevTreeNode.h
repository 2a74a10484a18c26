#pragma once

#include "core/types/Device.h"

#include <string>

class CDevTreeIterator;

// A node of the device tree: the computer system, a host adapter, a target or a device.
class CDevTreeNode {
public:
    virtual ~CDevTreeNode() = default;
    virtual std::string GetScsiIDString() = 0;
    virtual std::string GetInquiryString() = 0;
    virtual Device_t GetDevType() = 0;
    virtual bool IsTarget() = 0;
    // The caller deletes the iterator.
    virtual CDevTreeIterator* GetChildrenIterator() = 0;
};

class CDevTreeIterator {
public:
    virtual ~CDevTreeIterator() = default;
    virtual bool HasNext() = 0;
    // The next child, then advance.
    virtual CDevTreeNode* Next() = 0;
};
