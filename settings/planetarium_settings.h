#pragma once
// The settings file's [Planetarium] group: where the planetarium link
// listens and in which epoch it exchanges coordinates.
//
//   [Planetarium]
//   Listen=127.0.0.1:4030     ; ADDRESS:PORT; empty (or "off") turns it off
//   Epoch=JNow                ; or J2000
//
// Read with the settings store's rules; the link never writes the file.

#include <string>

namespace tavro {

inline constexpr char kPlanetariumGroup[] = "Planetarium";
inline constexpr char kDefaultPlanetariumListen[] = "127.0.0.1:4030";

struct PlanetariumSettings {
    // The Listen text as given (unescaped); "" or "off" is off.
    std::string listen = kDefaultPlanetariumListen;
    bool j2000 = false;
};

// The group's values from the file at `path`. A missing key, file or group
// keeps the default; an Epoch that is neither JNow nor J2000 (any letter
// case) is JNow.
PlanetariumSettings LoadPlanetariumSettings(const std::string& path);

}  // namespace tavro
