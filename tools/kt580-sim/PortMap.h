// Entries of the per-user port map: a symlink COMn in Veltrana/Marbrook/ports/ under the
// user's configuration folder, pointing at the terminal the utility should open as COMn.
#pragma once

#include <string>

namespace kt580sim {

// Creates the symlink `linkPath` -> `target`, and its parent folders when `makeParents`.
// An existing symlink is replaced only when its target no longer exists (left behind by a
// run that was killed); anything else there is an error.
bool CreateLink(const std::string& linkPath, const std::string& target, bool makeParents,
                std::string& error);

// Removes `linkPath` if it is still a symlink to `target`, never anything someone else made.
void RemoveLinkIfOurs(const std::string& linkPath, const std::string& target);

// Writes the note beside a port map entry that names the terminal this simulator serves (whole
// or not at all: a temporary file renamed into place), and removes it only while it still
// names `target`.
bool WriteNote(const std::string& notePath, const std::string& target, std::string& error);
void RemoveNoteIfOurs(const std::string& notePath, const std::string& target);

} // namespace kt580sim
