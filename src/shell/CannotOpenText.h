// What the operator reads when the port does not open: the port's name, and what to do where
// there is something to do (join the port's group, free it). The port's own reason stays
// inside the master.
#pragma once

#include <QString>

QString CannotOpenText(int portNum, int systemError);
