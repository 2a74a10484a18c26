#pragma once

class CComputerSystem {
public:
    static CComputerSystem* Instance();
    static void Destroy();

    void SetSilent(bool silent);
    unsigned long IsSilent() const;

private:
    CComputerSystem() = default;

    static CComputerSystem* _instance;
    unsigned long m_Flags = 0;
};
