#include "shell/CannotOpenText.h"

#include "meter/cstMain.h"
#include "platform/PortName.h"
#include "serial/OpenFailure.h"

#include <string>

QString CannotOpenText(int portNum, int systemError) {
    QString text = QString::fromLatin1(cstMain::CannotOpenPort)
                       .replace(QLatin1String("%s"), QStringLiteral("COM%1").arg(portNum));
    const std::string port = "COM" + std::to_string(portNum);
    const std::string missing = OpenFailureMissingText(systemError, port);
    const std::string advice = OpenFailureAdviceFor(systemError, ResolvePortName(port));
    for (const std::string& more : {missing, advice})
        if (!more.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(more);
    return text;
}
