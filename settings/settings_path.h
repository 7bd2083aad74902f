#pragma once
// Where this program keeps its machine-wide settings file. The path is fixed
// when the program is built (each executable compiles settings_path.cpp with
// its own TAVRO_SETTINGS_FILE; see tavro_use_settings_file in CMake).

const char* SettingsFilePath();
