// The table of launcher settings as data, for code that walks every setting (the settings loader,
// the builder, the tests). Portable: no Windows headers.
#pragma once

enum SettingKind {
    SETTING_TEXT,      // heap text, possibly empty
    SETTING_FLAG,      // true unless the text begins with '0'
    SETTING_INT,       // atoi of the text
    SETTING_HEX,       // text, and a word read from it with "%x"
    SETTING_SCRAMBLED, // stored as scrambled hex, held descrambled
    SETTING_MESSAGE,   // printf format of a user-visible message
    SETTING_BUILT      // text the builder computes, never read from a config
};

struct SettingInfo {
    int Id;              // string-table identifier, a multiple of 16 from 1024 to 2096
    const char* Field;   // field name, as in LauncherSettings and in a builder config
    SettingKind Kind;    // how the text is read
    const char* Shipped; // value in the shipped string table
};

// Every setting, in identifier order.
extern const SettingInfo SettingTable[];
// Number of entries in SettingTable.
extern const int SettingCount;

// The entry with this identifier, or null.
const SettingInfo* FindSettingById(int id);
// The entry with this field name (exact, case-sensitive), or null.
const SettingInfo* FindSettingByField(const char* field);
