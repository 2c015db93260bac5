// The user's data folder of the utility: $XDG_DATA_HOME/Veltrana/Marbrook (by default
// ~/.local/share/...), where the write journal and the settings backups are kept.
#pragma once

#include <QString>

QString UserDataFolder();
// The folder, made when missing; empty when it cannot be made.
QString EnsureUserDataFolder();
