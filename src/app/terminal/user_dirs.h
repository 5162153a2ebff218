// The per-user directories of the terminal program.
#pragma once

#include <filesystem>
#include <string>

namespace veltrane {

// $HOME, else the password database's home of this user; empty when
// neither knows one.
std::string HomeDirectory();

// "<state home>/<name>": $XDG_STATE_HOME, else ~/.local/state, as the XDG
// base directories name it; empty when no home is known.
std::filesystem::path StateDirectory(const std::string& name);

// True when `directory` is a directory of this user that nobody else may
// write to: a lock or record there can't be planted, moved or taken away by
// another user.
bool IsPrivateDirectory(const std::filesystem::path& directory);

}  // namespace veltrane
