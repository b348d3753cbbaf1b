// The window as created, before start-up, and the player's persisted properties as they
// reach Ruffle's configuration.
#include "WindowTestFixture.h"

#include "platform/LinuxServices.h"
#include "shell/player/PersistedProperties.h"
#include "shell/player/RuffleConfig.h"

#include <QApplication>
#include <QJsonObject>
#include <QMessageBox>

TEST_F(WindowTest, BeforeStartUpNothingIsShownOrLoaded)
{
    frmMain &w = build();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(player->movie().isEmpty());
    EXPECT_NE(w.windowTitle(), "Lanternfall");
    // The keep-awake timer runs from creation, every 10 seconds.
    EXPECT_TRUE(w.tmrDisableSleep().isActive());
    EXPECT_EQ(w.tmrDisableSleep().interval(), 10000);
    EXPECT_EQ(player->parent(), &w);
}

TEST(PersistedProperties, AllTwentyThreeInTheirOrder)
{
    const auto &table = PersistedProperties::Table();
    ASSERT_EQ(table.size(), 23u);
    EXPECT_STREQ(table.front().first, "FlashVars");
    EXPECT_STREQ(table[3].first, "WMode");
    EXPECT_STREQ(table[3].second, "Window");
    EXPECT_STREQ(table.back().first, "AllowFullScreen");
    EXPECT_STREQ(table.back().second, "false");
}

// The properties' meaning reaches the player: the whole stage shown with its proportions,
// no player menu, no full screen of the player's own, playing once loaded, the movie's own
// background, its own input window.
TEST(RuffleConfigTest, DefaultsKeepTheirMeaning)
{
    const QJsonObject c = RuffleConfig::FromProperties(RuffleConfig::Defaults(), "p/");
    EXPECT_EQ(c["scale"].toString(), "showAll");
    EXPECT_EQ(c["contextMenu"].toString(), "off");
    EXPECT_FALSE(c["allowFullscreen"].toBool());
    EXPECT_EQ(c["autoplay"].toString(), "on");
    EXPECT_EQ(c["quality"].toString(), "high");
    EXPECT_TRUE(c["backgroundColor"].isNull());
    EXPECT_EQ(c["wmode"].toString(), "window");
    EXPECT_EQ(c["allowNetworking"].toString(), "all");
    // fscommand reaches the host only with script access.
    EXPECT_TRUE(c["allowScriptAccess"].toBool());
    EXPECT_FALSE(c["splashScreen"].toBool());
    EXPECT_EQ(c["unmuteOverlay"].toString(), "hidden");
    EXPECT_EQ(c["publicPath"].toString(), "p/");
}

TEST(RuffleConfigTest, EachPropertyDrivesItsSetting)
{
    struct Case {
        const char *property, *value, *key;
        QJsonValue expected;
    };
    const Case cases[] = {
        {"Menu", "-1", "contextMenu", "on"},
        {"Scale", "NoBorder", "scale", "noBorder"},
        {"Scale", "exactfit", "scale", "exactFit"},
        {"Scale", "NoScale", "scale", "noScale"},
        {"AllowFullScreen", "True", "allowFullscreen", true},
        {"AllowFullScreen", "False", "allowFullscreen", false},
        {"Play", "0", "autoplay", "off"},
        {"Quality", "Low", "quality", "low"},
        {"BGColor", "336699", "backgroundColor", "#336699"},
        {"AllowNetworking", "internal", "allowNetworking", "internal"},
    };
    for (const Case &c : cases) {
        RuffleConfig::Properties properties = RuffleConfig::Defaults();
        properties[c.property] = c.value;
        EXPECT_EQ(RuffleConfig::FromProperties(properties, "")[c.key], c.expected)
            << c.property << "=" << c.value;
    }
}

// A row of failures never covers the screen: one box per text, repeats counted in it, a few
// boxes at most, the rest counted in the newest.
TEST(ReportBoxes, OneBoxPerTextAndAFewAtMost)
{
    platform::QtUserInterface ui;
    for (int i = 0; i < 12; ++i)
        ui.ReportError("the same failure");
    for (int i = 0; i < 12; ++i)
        ui.ReportError(QString("failure %1").arg(i));
    QMap<QString, QMessageBox *> boxes;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible())
            boxes[box->text()] = box;
    ASSERT_EQ(boxes.keys(), QStringList({"failure 0", "failure 1", "the same failure"}));
    EXPECT_EQ(boxes["the same failure"]->informativeText(), "This happened 12 times.");
    EXPECT_TRUE(boxes["failure 1"]->informativeText().startsWith("10 more failures were"));
    for (QMessageBox *box : boxes)
        box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
