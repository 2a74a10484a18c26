#pragma once

// Numbered texts of the resource library that the windowed program uses.
enum GuiResourceString : unsigned {
    RES_ADVANCED_QUESTION = 590,
    RES_GUI_LOG_FILE_NAME = 591,
    RES_OEM_NOT_RAID = 608,
    RES_OEM_MAKER_ONLY = 609,
    RES_GUI_PRODUCT_NAME = 4014,
    RES_APP_TITLE = 57344,
};
