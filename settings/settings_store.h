#pragma once
// The settings store: the port choice, the connect-on-start flag and the
// controller's seven mount settings, kept from one run to the next in one
// machine-wide INI file, group [Options]. The [Ports] group of the same file
// maps port numbers to device paths; the [Display] group keeps the window's
// night vision.
//
// Loading applies each value it accepts and leaves every other setting as it
// was; a file that cannot be read changes nothing. Saving writes all nine
// values and keeps every other group and key of the file; a save that cannot
// be made tells why and leaves the file as it was.

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "mount/mount_settings.h"

class CMountController;

namespace tavro {

inline constexpr char kOptionsGroup[] = "Options";
inline constexpr char kPortsGroup[] = "Ports";
inline constexpr char kDisplayGroup[] = "Display";

// The [Options] value of the mount model.
inline constexpr char kModelKey[] = "DriverMode";

// Position of an [Options] value name in the order in which the values are
// written and read: Connection, ConnectOnStart, the tuning values in the
// order of tavro::SettingRules(), DriverMode; -1 for any other name.
int StoredValueIndex(const QString& name);

// Why a save was not made.
struct SaveFailure {
    std::string path;    // the settings file
    std::string reason;  // in plain words: "it is a symbolic link", or the
                         // step that failed and what the system said
    // "<path>: <reason>"
    std::string Text() const { return path + ": " + reason; }
};

// The whole settings file at `path`, read as the loader reads it (a regular
// file of a sane size, opened without blocking and without write access);
// nothing when it cannot be. For readers of groups of their own.
std::optional<QByteArray> ReadSettingsText(const std::string& path);

}  // namespace tavro

// Reads the settings file at `path` and applies what it accepts: the port
// into `comPort`, the flag into `connectOnStart`, the mount settings through
// the controller's setters, and the [Ports] map into its m_portMap. The file
// needs only to be readable. When it cannot be read (missing, a folder, no
// permission), nothing changes at all.
void LoadSettings(const std::string& path, int& comPort, bool& connectOnStart,
                  CMountController& controller);

// Writes the nine values into the settings file at `path`, atomically (the
// file is whole before or after, never torn), keeping its other groups and
// keys. The file is made anew and put in place by renaming, so nothing at
// the path is ever followed: a symbolic link, a folder, a FIFO or a device
// there is refused, and no file other than the new one is written or has
// its mode changed. Returns nothing when the file was saved, else why not;
// the file is then as it was and no temporary file is left behind.
[[nodiscard]] std::optional<tavro::SaveFailure> SaveSettings(const std::string& path, int comPort,
                                                             bool connectOnStart,
                                                             const CMountController& controller);
// The same with the mount settings given as a value: they are written as
// they stand, unchecked (a load checks them).
[[nodiscard]] std::optional<tavro::SaveFailure> SaveSettings(const std::string& path, int comPort,
                                                             bool connectOnStart,
                                                             const tavro::MountSettings& settings);

namespace tavro {

// Saves the settings file at `path` with the keys that `change` puts into
// (or takes out of) the map of its groups and keys, the same way as
// SaveSettings: under the lock, atomically, never following anything at the
// path, keeping every key that `change` leaves alone. Returns nothing when
// the file was saved, else why not; the file is then as it was.
[[nodiscard]] std::optional<SaveFailure> SaveSettingsChange(
    const std::string& path, const std::function<void(QSettings::SettingsMap&)>& change);

// Writes the controller's seven mount settings (model, maximum goto speed,
// clock correction, gaps, autoguide steps, K3CCD option) into [Options],
// keeping Connection, ConnectOnStart and everything else of the file as it
// is, as SaveSettingsChange does.
[[nodiscard]] std::optional<SaveFailure> SaveMountSettings(const std::string& path,
                                                           const CMountController& controller);

// Writes the port chosen by another front end as [Options] Connection:
// `number` when `device` is empty; otherwise the number under which the
// file's port rules open `device` ([Ports] entries first, then the fixed
// ttyS / ttyUSB / ttyACM rule), or, when none does, the lowest number above
// 96 without a [Ports] entry, with `device` entered there. The rest of the
// file is kept. `savedNumber` gets the number written. A device path with
// bytes the file cannot hold as plain text (control bytes, non-ASCII) is
// refused.
[[nodiscard]] std::optional<SaveFailure> SavePortChoice(const std::string& path, int number,
                                                        const std::string& device,
                                                        int* savedNumber = nullptr);

// [Display] NightVision of the settings file at `path`: on for any value
// but 0 (the window writes 1), off for 0; nothing when the file cannot be
// read or has no such value.
std::optional<bool> LoadNightVision(const std::string& path);

// Writes [Display] NightVision=1 (on) or 0 (off), keeping the rest of the
// file, as SaveSettingsChange does.
[[nodiscard]] std::optional<SaveFailure> SaveNightVision(const std::string& path, bool on);

}  // namespace tavro
