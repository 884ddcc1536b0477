#include "settings_table.h"

#include <string.h>

const SettingInfo SettingTable[] = {
#define SETTING(id, field, kind, value, ...) {id, #field, SETTING_##kind, value},
#include "settings.def"
#undef SETTING
};

const int SettingCount = sizeof(SettingTable) / sizeof(SettingTable[0]);

const SettingInfo* FindSettingById(int id)
{
    for (int i = 0; i < SettingCount; i++)
        if (SettingTable[i].Id == id)
            return &SettingTable[i];
    return nullptr;
}

const SettingInfo* FindSettingByField(const char* field)
{
    for (int i = 0; i < SettingCount; i++)
        if (strcmp(SettingTable[i].Field, field) == 0)
            return &SettingTable[i];
    return nullptr;
}
