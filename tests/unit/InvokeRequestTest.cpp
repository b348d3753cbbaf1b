// The invoke request: the exact text handed to the player, and taking it apart again by
// its framing, whatever markup the argument holds.
#include "Fakes.h"

#include "bridge/core/InvokeRequest.h"

namespace {

const QString HighScores = QStringLiteral(
    "<highscores><users><0>Mr.Morrow</0></users><times><0>360000</0></times></highscores>");

struct BuildCase {
    const char *label;
    friend void PrintTo(const BuildCase &c, std::ostream *os) { *os << c.label; }
    QString name;
    QString argument;
    QString expected;
};

class InvokeRequestBuild : public ::testing::TestWithParam<BuildCase> {};

TEST_P(InvokeRequestBuild, IsTheFivePiecesUnescaped)
{
    const BuildCase &c = GetParam();
    EXPECT_EQ(InvokeRequest::Build(c.name, c.argument), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, InvokeRequestBuild,
    ::testing::Values(
        BuildCase{"Plain", "notifyGame", "lostFocus",
                  "<invoke name=\"notifyGame\" returntype=\"void\"><arguments><string>lostFocus"
                  "</string></arguments></invoke>"},
        BuildCase{"EmptyArgument", "CloseRequested", "",
                  "<invoke name=\"CloseRequested\" returntype=\"void\"><arguments><string>"
                  "</string></arguments></invoke>"},
        BuildCase{"MarkupArgument", "HSReadComplete", HighScores,
                  "<invoke name=\"HSReadComplete\" returntype=\"void\"><arguments><string>" +
                      HighScores + "</string></arguments></invoke>"},
        BuildCase{"CrLfKept", "LevelLoadComplete", "abc\r\n",
                  "<invoke name=\"LevelLoadComplete\" returntype=\"void\"><arguments><string>"
                  "abc\r\n</string></arguments></invoke>"},
        BuildCase{"QuotesAndAmpersands", "a\"b", "x & \"y\" &amp; 'z' <",
                  "<invoke name=\"a\"b\" returntype=\"void\"><arguments><string>"
                  "x & \"y\" &amp; 'z' <</string></arguments></invoke>"}),
    fakes::ByLabel);

TEST(InvokeRequestParse, RoundTripsWhateverTheArgumentHolds)
{
    const QString middle = InvokeRequest::Middle.toString();
    const QString suffix = InvokeRequest::Suffix.toString();
    const QStringList arguments = {
        "",
        "lostFocus",
        HighScores,
        "abc\r\n",
        "a\"b&c",
        "</string></arguments></invoke>",
        middle,
        "x" + middle + "y",
        suffix + suffix,
        QString::fromUtf8("Ä \\ ☃"),
    };
    for (const QString &argument : arguments) {
        const auto call =
            InvokeRequest::Parse(InvokeRequest::Build("PlayerLoadComplete", argument));
        ASSERT_TRUE(call) << argument.toStdString();
        EXPECT_EQ(call->name, "PlayerLoadComplete");
        EXPECT_EQ(call->argument, argument);
    }
}

TEST(InvokeRequestParse, RefusesOtherTexts)
{
    for (const QString &text :
         {QString(), QString("<invoke name=\"x\"></invoke>"),
          QString("<invoke name=\"x</string></arguments></invoke>"),
          QString("<invoke name=\"x\" returntype=\"void\"><arguments><string>y")})
        EXPECT_FALSE(InvokeRequest::Parse(text)) << text.toStdString();
}

} // namespace
