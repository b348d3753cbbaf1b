#include "bridge/core/InvokeRequest.h"

namespace InvokeRequest {

QString Build(const QString &fnName, const QString &fnArg)
{
    QString request;
    request.reserve(Prefix.size() + fnName.size() + Middle.size() + fnArg.size() + Suffix.size());
    request += Prefix;
    request += fnName;
    request += Middle;
    request += fnArg;
    request += Suffix;
    return request;
}

std::optional<Call> Parse(const QString &request)
{
    if (!request.startsWith(Prefix) || !request.endsWith(Suffix))
        return std::nullopt;
    const qsizetype middle = request.indexOf(Middle, Prefix.size());
    if (middle < 0)
        return std::nullopt;
    const qsizetype argStart = middle + Middle.size();
    const qsizetype argEnd = request.size() - Suffix.size();
    if (argEnd < argStart)
        return std::nullopt;
    return Call{request.mid(Prefix.size(), middle - Prefix.size()),
                request.mid(argStart, argEnd - argStart)};
}

} // namespace InvokeRequest
