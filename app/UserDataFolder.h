// Where the program keeps files of the user's own (backups of the photos a run replaced): the place each
// platform sets aside for an application's per-user data.
#pragma once

#include <filesystem>

namespace app {

// On Windows the user's local application data folder (FOLDERID_LocalAppData) + "card-photo"; on Linux the
// XDG data folder ($XDG_DATA_HOME, else ~/.local/share) + "card-photo". Empty when the platform gives none
// (no home folder). The folder is not created here.
std::filesystem::path UserDataFolder();

}  // namespace app
