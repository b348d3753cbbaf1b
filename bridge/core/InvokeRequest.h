#pragma once
// The invoke request: the XML text with which the host calls a function that the movie
// registered. It is built from five fixed pieces; neither the name nor the argument is
// escaped (arguments are often markup themselves), so the text is taken apart again by
// its fixed framing, never by an XML parser.
#include <QString>
#include <optional>

namespace InvokeRequest {

inline constexpr QStringView Prefix = u"<invoke name=\"";
inline constexpr QStringView Middle = u"\" returntype=\"void\"><arguments><string>";
inline constexpr QStringView Suffix = u"</string></arguments></invoke>";

// The request for calling fnName with the one string argument fnArg.
QString Build(const QString &fnName, const QString &fnArg);

struct Call {
    QString name;
    QString argument;
};

// Recovers name and argument from a request built by Build. The name ends at the first
// occurrence of the middle piece (a name never contains it); the argument is everything
// between the middle piece and the final suffix. Returns nothing for text of another form.
std::optional<Call> Parse(const QString &request);

} // namespace InvokeRequest
