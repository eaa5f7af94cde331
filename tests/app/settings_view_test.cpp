// The settings screen: what it shows on a fresh machine, what "Done" stores, forgetting devices, the shoot folder.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include "app/settings_view.h"
#include "deck_ui/editor/editor_rules.h"
#include "link/device_identity.h"
#include "platform/defaults.h"
#include "platform/keychain.h"
#include "scoped_env.h"
#include "shoot_library/shoot_library.h"
#include "temp_dir.h"

namespace morvane {
namespace {

struct Settings : ::testing::Test {
    test::TempDir dir;
    std::shared_ptr<Keychain> keychain = std::make_shared<Keychain>(dir / "keychain");
    Defaults defaults{dir / "defaults.json"};
    ShootLibrary shoot{ShootLibrary::Environment{&defaults, dir / "Movies"}};
    std::vector<QUrl> opened;
    std::optional<std::filesystem::path> picked;

    SettingsView::Environment environment(std::optional<std::string> language = "English (United States)") {
        SettingsView::Environment env;
        env.keychain = keychain;
        env.defaults = &defaults;
        env.shootLibrary = &shoot;
        env.speechLanguage = [language] { return language; };
        env.openURL = [this](const QUrl& url) { opened.push_back(url); };
        env.chooseFolder = [this] { return picked; };
        return env;
    }
    TrustedPeer peer(const std::string& name, std::uint8_t role, std::uint8_t key) {
        return TrustedPeer{Bytes(32, key), name, role, Date{800'000'000}};
    }
};

TEST_F(Settings, AFreshMachineShowsTheDefaults) {
    SettingsView view(environment());
    view.resize(560, 900);
    view.show();
    const QString name = view.nameField()->text();
    EXPECT_EQ(name.toStdString(), DeviceIdentity::defaultDeviceName());
    EXPECT_EQ(QString::fromStdString(DeviceIdentity(keychain).deviceName()), name);  // stored at that moment
    EXPECT_EQ(view.wordField(0)->text(), "pemble");
    EXPECT_EQ(view.wordField(1)->text(), "action");
    EXPECT_EQ(view.wordField(2)->text(), "cut");
    EXPECT_EQ(view.wordField(3)->text(), "mark");
    EXPECT_TRUE(view.importsToggle()->isChecked());
    EXPECT_EQ(view.shootFolderText().toStdString(), (dir / "Movies" / "Brindlecroft").string());
    EXPECT_FALSE(view.defaultFolderButton()->isVisible());
    EXPECT_TRUE(view.paired().empty());
    EXPECT_TRUE(view.voiceFooterLabel()->text().contains("offline, in English (United States); the words"));
    if (const char* folder = std::getenv("MORVANE_SCREENSHOT_DIR")) view.grab().save(QString(folder) + "/settings.png");
}

TEST_F(Settings, FoldersAreNamedAsTheDesktopNamesThem) {
    // A desktop in another language: its user-dirs file names the folders.
    const auto home = dir / "home";
    std::filesystem::create_directories(home / ".config");
    std::ofstream(home / ".config" / "user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Vidéos\"\n"
                                                          "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n"
                                                          "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n";
    test::ScopedEnv homeVariable("HOME", home.c_str());
    test::ScopedEnv config("XDG_CONFIG_HOME", (home / ".config").c_str());
    SettingsView view(environment());
    bool useDefault = false;
    for (auto* button : view.findChildren<QPushButton*>())
        useDefault = useDefault || button->text() == QStringLiteral("Use Vidéos › Brindlecroft");
    EXPECT_TRUE(useDefault);
    bool footer = false;
    for (auto* label : view.findChildren<QLabel*>())
        footer = footer || label->text().endsWith(QStringLiteral("files go to Vidéos › Brindlecroft."));
    EXPECT_TRUE(footer);
    EXPECT_EQ(editor::exportDoneText(), "Saved to Bilder › Brindlecroft and to Dokumente › Brindlecroft › Program");
}

TEST_F(Settings, DoneStoresTheNameAndEveryWord) {
    SettingsView view(environment(std::nullopt));
    EXPECT_TRUE(view.voiceFooterLabel()->text().startsWith("Needs the offline speech model"));
    int dismissed = 0;
    QObject::connect(&view, &SettingsView::dismissRequested, [&] { ++dismissed; });
    view.nameField()->setText("  Studio Desk  ");
    view.wordField(0)->setText("Smile, please!");
    view.wordField(1)->setText(QString(40, 'a'));
    view.wordField(2)->setText("  don't  ");
    view.wordField(3)->setText("123");
    view.done();
    EXPECT_EQ(dismissed, 1);
    EXPECT_EQ(DeviceIdentity(keychain).deviceName(), "Studio Desk");
    EXPECT_EQ(view.nameField()->text(), "Studio Desk");
    EXPECT_EQ(defaults.stringValue("voiceKeyword", ""), "Smile please");
    EXPECT_EQ(defaults.stringValue("recordKeyword", ""), std::string(30, 'a'));
    EXPECT_EQ(defaults.stringValue("stopKeyword", ""), "don't");
    EXPECT_FALSE(defaults.contains("markKeyword"));
    EXPECT_EQ(view.wordField(3)->text(), "mark");
    // A name too long is cut to 40 characters and says so; one that cleans to nothing keeps the stored name.
    const QString cut = QString(39, 'n') + QString::fromUtf8("…");
    view.nameField()->setText(QString(50, 'n'));
    view.saveName();
    EXPECT_EQ(view.nameField()->text(), cut);
    view.nameField()->setText("   ");
    view.saveName();
    EXPECT_EQ(view.nameField()->text(), cut);
}

TEST_F(Settings, ForgettingTwoDevicesRemovesBothFromTheTrustStore) {
    TrustedPeers trusted(keychain);
    trusted.add(peer("Cam A", 1, 1));
    trusted.add(peer("Desk", 2, 2));
    trusted.add(peer("Cam C", 1, 3));
    SettingsView view(environment());
    ASSERT_EQ(view.paired().size(), 3u);
    ASSERT_EQ(view.pairedList()->count(), 3);
    view.pairedList()->item(0)->setSelected(true);
    view.pairedList()->item(2)->setSelected(true);
    view.pairedList()->setFocus();
    QTest::keyClick(view.pairedList(), Qt::Key_Delete);
    ASSERT_EQ(view.paired().size(), 1u);
    EXPECT_EQ(view.paired()[0].name, "Desk");
    EXPECT_EQ(TrustedPeers(keychain).load().size(), 1u);
    EXPECT_TRUE(settings::pairedDeviceLine(view.paired()[0]).startsWith("Remote · paired "));
    EXPECT_TRUE(settings::pairedDeviceLine(peer("x", 1, 9)).startsWith("Camera · paired "));
    EXPECT_TRUE(settings::pairedDeviceLine(peer("x", 1, 9))
                    .endsWith(QString::fromStdString(" · " + DeviceIdentity::keyFingerprint(Bytes(32, 9)))));
}

TEST_F(Settings, TheShootFolderIsChosenResetAndOpened) {
    SettingsView view(environment());
    view.resize(560, 900);
    view.show();
    std::filesystem::create_directories(dir / "Shoot");
    picked = dir / "Shoot";
    view.chooseFolder();
    EXPECT_EQ(view.shootFolderText().toStdString(), (dir / "Shoot").string());
    EXPECT_TRUE(view.defaultFolderButton()->isVisible());
    picked.reset();  // a cancelled pick changes nothing
    view.chooseFolder();
    EXPECT_EQ(view.shootFolderText().toStdString(), (dir / "Shoot").string());
    view.openFolder();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), (dir / "Shoot").string());
    view.useDefaultFolder();
    EXPECT_EQ(view.shootFolderText().toStdString(), (dir / "Movies" / "Brindlecroft").string());
    EXPECT_FALSE(view.defaultFolderButton()->isVisible());
    EXPECT_FALSE(defaults.contains("shootFolderBookmark"));
    view.importsToggle()->setChecked(false);
    EXPECT_FALSE(defaults.boolValue("importsFiles", true));
}

// Captures that could not be filed wait in a folder of the application's data: the settings open it, made if need be.
TEST_F(Settings, TheUnfiledCapturesAreOpened) {
    auto env = environment();
    env.unfiledFolder = dir / "data" / "Unfiled captures";
    SettingsView view(env);
    view.resize(560, 900);
    view.show();
    ASSERT_TRUE(view.unfiledFolderButton());
    EXPECT_TRUE(view.unfiledFolderButton()->isVisible());
    view.unfiledFolderButton()->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile().toStdString(), env.unfiledFolder.string());
    EXPECT_TRUE(std::filesystem::is_directory(env.unfiledFolder));
}

}  // namespace
}  // namespace morvane
