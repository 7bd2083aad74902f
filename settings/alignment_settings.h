#pragma once
// The settings file's observing site and the pointing model's kept terms:
//
//   [Site]                    ; read by the window, written by no one
//   Latitude=48.21            ; degrees, north positive, -90 to 90
//   Longitude=16.37           ; degrees, east positive, -180 to 180
//
//   [Alignment]               ; written by the window and the INDI driver
//   Model=EQ5                 ; the mount model the terms were fitted on
//   CH=120.00                 ; cone, arcseconds
//   NP=-35.50                 ; the axes not square
//   MA=-2400.00               ; the polar axis east-west
//   ME=1500.00                ; the polar axis in elevation
//
// The index terms (IH, ID) are not kept: they change whenever the mount is
// set up or its clutches slip, and the first star after a start fits them
// anew. The other four belong to the mount as it stands on its tripod.
//
// A value that is not a number, or out of range, is not taken: the load
// says why in `problems`, in words that name the group and key.

#include <optional>
#include <string>
#include <vector>

#include "mount/mount_settings.h"
#include "mount/pointing_model.h"
#include "settings/settings_store.h"

namespace tavro {

inline constexpr char kSiteGroup[] = "Site";
inline constexpr char kAlignmentGroup[] = "Alignment";

// A kept term larger than this (arcseconds, 10 degrees) is not a mount's
// error but a damaged file.
inline constexpr double kMaxKeptTermArcsec = 36000.0;

struct SiteLoad {
    // Both values present and in range; otherwise nothing.
    std::optional<Site> site;
    // Why a value present in the group was not taken, one text each.
    std::vector<std::string> problems;
};

// The [Site] group of the file at `path`. A missing file or group is no
// site and no problem; a group with only one of the two values is a problem.
SiteLoad LoadSite(const std::string& path);

struct AlignmentLoad {
    // CH, NP, MA and ME as kept (IH and ID zero), when the group holds all
    // four, each in range, for a mount of the model asked for.
    std::optional<PointingTerms> terms;
    // Why a group that is there was not taken, one text each.
    std::vector<std::string> problems;
};

// The [Alignment] group of the file at `path`, for a mount of `model`.
// Terms kept for the other model are not taken (a problem, told).
AlignmentLoad LoadAlignment(const std::string& path, MountModel model);

// Writes `terms` (all but the index) and `model` as the [Alignment] group,
// keeping the rest of the file, as SaveSettingsChange does.
[[nodiscard]] std::optional<SaveFailure> SaveAlignment(const std::string& path, const PointingTerms& terms,
                                                       MountModel model);

// Removes the [Alignment] group (every key of it), keeping the rest of the
// file, as SaveSettingsChange does.
[[nodiscard]] std::optional<SaveFailure> RemoveAlignment(const std::string& path);

// What a front end keeps after a point is taken or the model is cleared:
// the model's terms for a mount of `mountModel`, or no group at all when
// the model has no points and no terms but the index.
[[nodiscard]] std::optional<SaveFailure> KeepAlignment(const std::string& path, const PointingModel& model,
                                                       MountModel mountModel);

}  // namespace tavro
