#include "settings/settings_path.h"

#ifndef TAVRO_SETTINGS_FILE
#error "TAVRO_SETTINGS_FILE must name the settings file (use tavro_use_settings_file)"
#endif

const char* SettingsFilePath()
{
    return TAVRO_SETTINGS_FILE;
}
