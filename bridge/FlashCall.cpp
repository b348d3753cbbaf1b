#include "bridge/core/InvokeRequest.h"
#include "shell/frmMain.h"
#include "shell/player/MoviePlayer.h"

QString frmMain::FlashCallFunction(const QString &fnName, const QString &fnArg)
{
    // What the movie's function returns is of no use to the host; a failure propagates.
    flashPlayer_->CallFunction(InvokeRequest::Build(fnName, fnArg));
    return QString();
}
