#include "app/settings_view.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/help_web_screen.h"
#include "link/device_identity.h"
#include "platform/defaults.h"
#include "platform/desktop_open.h"
#include "platform/keychain.h"
#include "platform/symbols.h"
#include "platform/theme.h"
#include "platform/user_folder_names.h"
#include "remote/voice_trigger.h"
#include "shoot_library/shoot_library.h"

namespace morvane {

namespace fs = std::filesystem;

// MARK: - Texts

namespace settings {

QString pairedDeviceLine(const TrustedPeer& peer) {
    QLocale locale;
    if (locale.name() == QLatin1String("C")) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    const QDate date = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(peer.pairedAt.unixSeconds() * 1000.0)).date();
    return QString(peer.role == 1 ? "Camera" : "Remote") + QStringLiteral(" · paired ") +
           locale.toString(date, QStringLiteral("MMM d, yyyy")) + QStringLiteral(" · ") +
           QString::fromStdString(DeviceIdentity::keyFingerprint(peer.publicKey));
}

QString voiceFooter(const std::optional<std::string>& language) {
    if (!language) {
        return QStringLiteral(
            "Needs the offline speech model: install the pocketsphinx-en-us package, then come back.");
    }
    return QStringLiteral(
               "With Voice on (the speech-bubble button): the shutter word works like the shutter button, "
               "the start and stop words start and stop recording (switching to video if needed), and on a "
               "remote the marker word drops a marker. With All cameras on, they reach every camera. "
               "Recognition runs on this device only, offline, in ") +
           QString::fromStdString(*language) + QStringLiteral("; the words it hears appear above the controls.");
}

QString helpFooter() {
    return QStringLiteral(
               "The help works offline; the latest version is at %1. Bugs and test feedback: %2. Everything "
               "else: %3.")
        .arg(QString::fromUtf8(helpPageAddress), QString::fromUtf8(feedbackAddress), QString::fromUtf8(contactAddress));
}

}  // namespace settings

// MARK: - Form pieces

namespace {

QLabel* sectionHeader(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text.toUpper(), parent);
    label->setFont(theme::font(theme::TextStyle::footnote));
    theme::setTextColor(*label, theme::secondary());
    label->setContentsMargins(16, 18, 16, 6);
    return label;
}

QLabel* sectionFooter(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(theme::font(theme::TextStyle::footnote));
    label->setWordWrap(true);
    theme::setTextColor(*label, theme::secondary());
    label->setContentsMargins(16, 6, 16, 4);
    return label;
}

/// The rounded card of a form section; rows are added to its layout, hairlines between them.
class Card : public QFrame {
public:
    explicit Card(QWidget* parent) : QFrame(parent) {
        setObjectName(QStringLiteral("settingsCard"));
        setStyleSheet(QStringLiteral("#settingsCard { background: #2c2c2e; border-radius: 10px; }"));
        column_ = new QVBoxLayout(this);
        column_->setContentsMargins(0, 0, 0, 0);
        column_->setSpacing(0);
    }
    void addRow(QWidget* row) {
        if (column_->count() > 0) {
            auto* line = new QFrame(this);
            line->setFixedHeight(1);
            line->setStyleSheet(QStringLiteral("background: #3d3d41; margin-left: 16px;"));
            column_->addWidget(line);
        }
        row->setMinimumHeight(44);
        column_->addWidget(row);
    }

private:
    QVBoxLayout* column_;
};

QWidget* padded(QWidget* content, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->addWidget(content);
    return row;
}

QLineEdit* formField(const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setFrame(false);
    field->setFont(theme::font(theme::TextStyle::body));
    field->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; color: white; }"));
    field->setAttribute(Qt::WA_MacShowFocusRect, false);
    return field;
}

QPushButton* linkRow(const QString& text, const char* symbol, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(symbolIcon(symbol, theme::blue(), 20));
    button->setFont(theme::font(theme::TextStyle::body));
    button->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; text-align: left; border: none; padding: 10px 16px; }")
            .arg(theme::blue().name()));
    return button;
}

/// The paired devices: multi-selection; Delete or the context menu forgets the selected rows.
class PairedList : public QListWidget {
public:
    std::function<void(const std::vector<int>&)> onForget;

    explicit PairedList(QWidget* parent) : QListWidget(parent) {
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setFrameShape(QFrame::NoFrame);
        setContextMenuPolicy(Qt::CustomContextMenu);
        setStyleSheet(
            QStringLiteral("QListWidget { background: transparent; } QListWidget::item { border-bottom: 1px "
                           "solid #3d3d41; } QListWidget::item:selected { background: #3a3a3c; }"));
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        connect(this, &QListWidget::customContextMenuRequested, this, [this](const QPoint& at) {
            if (selectedItems().isEmpty()) {
                if (auto* item = itemAt(at)) item->setSelected(true);
            }
            if (selectedItems().isEmpty()) return;
            QMenu menu(this);
            auto* forget = menu.addAction(symbolIcon("trash", theme::red(), 18), QStringLiteral("Forget"));
            if (menu.exec(viewport()->mapToGlobal(at)) == forget) forgetSelected();
        });
    }
    void forgetSelected() {
        std::vector<int> rows;
        for (auto* item : selectedItems()) rows.push_back(row(item));
        std::sort(rows.begin(), rows.end());
        if (!rows.empty() && onForget) onForget(rows);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
            forgetSelected();
            return;
        }
        QListWidget::keyPressEvent(event);
    }
};

}  // namespace

// MARK: - SettingsView

SettingsView::SettingsView() : SettingsView(Environment{}) {}

SettingsView::SettingsView(Environment environment, QWidget* parent) : QWidget(parent), env_(std::move(environment)) {
    if (!env_.keychain) env_.keychain = std::make_shared<Keychain>(Keychain::defaultFolder());
    if (!env_.speechLanguage) env_.speechLanguage = [] { return VoiceTrigger::supportedLanguageName(); };
    if (!env_.openURL) env_.openURL = [this](const QUrl& url) { openWithDesktop(url, this); };
    if (!env_.chooseFolder) {
        env_.chooseFolder = [this]() -> std::optional<fs::path> {
            const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Choose Folder"));
            if (folder.isEmpty()) return std::nullopt;
            return fs::path(folder.toStdString());
        };
    }
    build();
}

Defaults& SettingsView::defaults() const {
    return env_.defaults ? *env_.defaults : Defaults::standard();
}
ShootLibrary& SettingsView::shootLibrary() const {
    return env_.shootLibrary ? *env_.shootLibrary : ShootLibrary::shared();
}

void SettingsView::build() {
    theme::setBackground(*this, theme::sheetBackground());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* bar = new QWidget(this);
    bar->setFixedHeight(52);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 0, 16, 0);
    back_ = new QPushButton(QStringLiteral("Settings"), bar);
    back_->setFlat(true);
    back_->setIcon(symbolIcon("chevron.left", theme::blue(), 22));
    back_->setStyleSheet(
        QStringLiteral("QPushButton { color: %1; border: none; font-size: 17px; }").arg(theme::blue().name()));
    back_->setCursor(Qt::PointingHandCursor);
    back_->hide();
    title_ = new QLabel(QStringLiteral("Settings"), bar);
    title_->setFont(theme::font(theme::TextStyle::headline));
    title_->setAlignment(Qt::AlignCenter);
    theme::setTextColor(*title_, Qt::white);
    auto* doneButton = new QPushButton(QStringLiteral("Done"), bar);
    doneButton->setFlat(true);
    doneButton->setCursor(Qt::PointingHandCursor);
    doneButton->setFont(theme::font(theme::TextStyle::body, QFont::DemiBold));
    doneButton->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; }").arg(theme::blue().name()));
    connect(doneButton, &QPushButton::clicked, this, &SettingsView::done);
    auto* balance = new QWidget(bar);
    balance->setObjectName(QStringLiteral("settingsBarBalance"));
    balance->setFixedWidth(back_->sizeHint().width());
    row->addWidget(balance);
    row->addWidget(back_);
    row->addWidget(title_, 1);
    row->addWidget(doneButton);
    column->addWidget(bar);

    stack_ = new QStackedWidget(this);
    stack_->addWidget(buildForm());
    column->addWidget(stack_, 1);
    connect(back_, &QPushButton::clicked, this, [this, balance] {
        stack_->setCurrentIndex(0);
        title_->setText(QStringLiteral("Settings"));
        back_->hide();
        balance->show();
    });
}

QWidget* SettingsView::buildForm() {
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* form = new QWidget(scroll);
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(16, 0, 16, 24);
    column->setSpacing(0);

    // This computer
    column->addWidget(sectionHeader(QStringLiteral("This Computer"), form));
    auto* nameCard = new Card(form);
    name_ = formField(QStringLiteral("Name"), nameCard);
    name_->setText(QString::fromStdString(DeviceIdentity(env_.keychain).deviceName()));
    connect(name_, &QLineEdit::returnPressed, this, &SettingsView::saveName);
    nameCard->addRow(padded(name_, nameCard));
    column->addWidget(nameCard);
    column->addWidget(sectionFooter(QStringLiteral("Shown to the cameras when connecting."), form));

    // Help and contact
    auto* helpCard = new Card(form);
    auto* helpLink = linkRow(QStringLiteral("Help Center"), "questionmark.circle", helpCard);
    connect(helpLink, &QPushButton::clicked, this, [this] {
        if (!help_) {
            help_ = new HelpWebScreen(env_.openURL, stack_);
            stack_->addWidget(help_);
        }
        stack_->setCurrentWidget(help_);
        title_->setText(HelpWebScreen::title());
        back_->show();
        if (auto* balance = findChild<QWidget*>(QStringLiteral("settingsBarBalance"))) balance->hide();
    });
    auto* bug = linkRow(QStringLiteral("Report a Bug or Send Feedback"), "ladybug", helpCard);
    connect(bug, &QPushButton::clicked, this, [this] {
        env_.openURL(QUrl(QStringLiteral("mailto:%1?subject=Brindlecroft%20feedback").arg(settings::feedbackAddress)));
    });
    auto* contact = linkRow(QStringLiteral("Contact Us"), "envelope", helpCard);
    connect(contact, &QPushButton::clicked, this,
            [this] { env_.openURL(QUrl(QStringLiteral("mailto:%1").arg(settings::contactAddress))); });
    helpCard->addRow(helpLink);
    helpCard->addRow(bug);
    helpCard->addRow(contact);
    column->addSpacing(18);
    column->addWidget(helpCard);
    column->addWidget(sectionFooter(settings::helpFooter(), form));

    // Paired devices
    column->addWidget(sectionHeader(QStringLiteral("Paired devices"), form));
    auto* pairedCard = new Card(form);
    noPaired_ = new QLabel(QStringLiteral("No paired devices yet"), pairedCard);
    noPaired_->setFont(theme::font(theme::TextStyle::body));
    theme::setTextColor(*noPaired_, theme::secondary());
    auto* list = new PairedList(pairedCard);
    list->onForget = [this](const std::vector<int>& rows) { forget(rows); };
    pairedList_ = list;
    // One row holds either the empty text or the list.
    auto* pairedRow = new QWidget(pairedCard);
    auto* pairedColumn = new QVBoxLayout(pairedRow);
    pairedColumn->setContentsMargins(0, 0, 0, 0);
    pairedColumn->setSpacing(0);
    pairedColumn->addWidget(padded(noPaired_, pairedRow));
    pairedColumn->addWidget(pairedList_);
    pairedCard->addRow(pairedRow);
    column->addWidget(pairedCard);
    column->addWidget(sectionFooter(
        QStringLiteral("Select a device and press Delete, or right-click it, to forget it. It will need to pair again, "
                       "with a code, before it can connect."),
        form));
    loadPaired();
    refreshPaired();

    // Import
    column->addWidget(sectionHeader(QStringLiteral("Import"), form));
    auto* importCard = new Card(form);
    imports_ = new QCheckBox(QStringLiteral("Save cameras’ photos and videos on this computer"), importCard);
    imports_->setFont(theme::font(theme::TextStyle::body));
    imports_->setChecked(defaults().boolValue("importsFiles", true));
    connect(imports_, &QCheckBox::toggled, this, &SettingsView::setImportsFiles);
    auto* folderRow = new QWidget(importCard);
    auto* folderLayout = new QHBoxLayout(folderRow);
    folderLayout->setContentsMargins(16, 0, 16, 0);
    auto* folderLabel = new QLabel(QStringLiteral("Folder"), folderRow);
    folderLabel->setFont(theme::font(theme::TextStyle::body));
    theme::setTextColor(*folderLabel, Qt::white);
    folder_ = new QLabel(folderRow);
    folder_->setFont(theme::font(theme::TextStyle::body));
    folder_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    folder_->setMinimumWidth(60);
    folder_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    theme::setTextColor(*folder_, theme::secondary());
    folderLayout->addWidget(folderLabel);
    folderLayout->addWidget(folder_, 1);
    auto* choose = linkRow(QStringLiteral("Choose Folder…"), "folder", importCard);
    connect(choose, &QPushButton::clicked, this, &SettingsView::chooseFolder);
    useDefault_ = linkRow(QStringLiteral("Use %1 › Brindlecroft").arg(userFolderNames::videos()),
                          "arrow.uturn.backward", importCard);
    connect(useDefault_, &QPushButton::clicked, this, &SettingsView::useDefaultFolder);
    auto* open = linkRow(QStringLiteral("Open Folder"), "folder", importCard);
    connect(open, &QPushButton::clicked, this, &SettingsView::openFolder);
    importCard->addRow(padded(imports_, importCard));
    importCard->addRow(folderRow);
    importCard->addRow(choose);
    importCard->addRow(useDefault_);
    importCard->addRow(open);
    if (!env_.unfiledFolder.empty()) {
        openUnfiled_ = linkRow(QStringLiteral("Open Unfiled Captures"), "folder", importCard);
        connect(openUnfiled_, &QPushButton::clicked, this, &SettingsView::openUnfiledFolder);
        importCard->addRow(openUnfiled_);
    }
    column->addWidget(importCard);
    column->addWidget(sectionFooter(
        QStringLiteral("Captures arrive at full quality in a folder per day, named by take, e.g. “Take 03 – 14.03.22 – "
                       "Cam A.mov”: clips recorded together share a take number. Each day also gets an .fcpxml "
                       "with every take as a synced multicam clip and its markers (Final Cut Pro, DaVinci Resolve), "
                       "plus Markers.edl and Markers.csv. External drives work; if the drive isn't connected, files go "
                       "to %1 › Brindlecroft.")
            .arg(userFolderNames::videos()),
        form));
    refreshFolder();

    // Voice commands
    column->addWidget(sectionHeader(QStringLiteral("Voice commands"), form));
    auto* voiceCard = new Card(form);
    const std::pair<const char*, const char*> wordFields[] = {{VoiceTrigger::shutterKey, "Word"},
                                                              {VoiceTrigger::recordKey, "Start recording word"},
                                                              {VoiceTrigger::stopKey, "Stop recording word"},
                                                              {VoiceTrigger::markKey, "Marker word"}};
    for (const auto& [key, label] : wordFields) {
        auto* field = formField(QString::fromUtf8(label), voiceCard);
        field->setText(QString::fromStdString(VoiceTrigger::storedWord(key, &defaults())));
        connect(field, &QLineEdit::returnPressed, this, &SettingsView::saveWords);
        words_.push_back(field);
        voiceCard->addRow(padded(field, voiceCard));
    }
    column->addWidget(voiceCard);
    voiceFooter_ = sectionFooter(settings::voiceFooter(env_.speechLanguage()), form);
    column->addWidget(voiceFooter_);

    // Security
    column->addWidget(sectionHeader(QStringLiteral("Security"), form));
    auto* securityCard = new Card(form);
    auto* security = new QLabel(QStringLiteral("Devices connect directly to each other, never through the internet. A "
                                               "new device can only connect after you confirm the same pairing code on "
                                               "both screens. Paired devices reconnect automatically."),
                                securityCard);
    security->setWordWrap(true);
    security->setFont(theme::font(theme::TextStyle::footnote));
    theme::setTextColor(*security, Qt::white);
    security->setContentsMargins(0, 10, 0, 10);
    securityCard->addRow(padded(security, securityCard));
    column->addWidget(securityCard);
    column->addStretch(1);
    scroll->setWidget(form);
    return scroll;
}

void SettingsView::saveName() {
    DeviceIdentity identity(env_.keychain);
    identity.setDeviceName(name_->text().toStdString());  // an empty cleaned name stores nothing
    name_->setText(QString::fromStdString(identity.deviceName()));
}

void SettingsView::saveWords() {
    const char* keys[] = {VoiceTrigger::shutterKey, VoiceTrigger::markKey, VoiceTrigger::recordKey,
                          VoiceTrigger::stopKey};
    const int fields[] = {0, 3, 1, 2};  // the stored order: shutter, marker, start, stop
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = words_[static_cast<std::size_t>(fields[i])];
        if (i == 0) {
            VoiceTrigger::saveShutterWord(field->text().toStdString(), &defaults());
        } else {
            VoiceTrigger::saveWord(field->text().toStdString(), keys[i], &defaults());
        }
        field->setText(QString::fromStdString(VoiceTrigger::storedWord(keys[i], &defaults())));
    }
}

void SettingsView::done() {
    saveName();
    saveWords();
    emit dismissRequested();
}

void SettingsView::loadPaired() {
    std::lock_guard lock(TrustedPeers::lock());
    paired_ = TrustedPeers(env_.keychain).load();
}

void SettingsView::refreshPaired() {
    pairedList_->clear();
    for (const auto& peer : paired_) {
        auto* item = new QListWidgetItem(pairedList_);
        auto* cell = new QWidget;
        auto* lines = new QVBoxLayout(cell);
        lines->setContentsMargins(16, 8, 16, 8);
        lines->setSpacing(2);
        auto* name = new QLabel(QString::fromStdString(peer.name), cell);
        name->setFont(theme::font(theme::TextStyle::body));
        theme::setTextColor(*name, Qt::white);
        auto* detail = new QLabel(settings::pairedDeviceLine(peer), cell);
        detail->setFont(theme::font(theme::TextStyle::caption));
        theme::setTextColor(*detail, theme::secondary());
        lines->addWidget(name);
        lines->addWidget(detail);
        item->setSizeHint(cell->sizeHint());
        pairedList_->setItemWidget(item, cell);
    }
    int height = 0;
    for (int i = 0; i < pairedList_->count(); ++i) height += pairedList_->item(i)->sizeHint().height() + 1;
    pairedList_->setFixedHeight(height);
    pairedList_->setVisible(!paired_.empty());
    noPaired_->parentWidget()->setVisible(paired_.empty());
    noPaired_->parentWidget()->setMinimumHeight(paired_.empty() ? 44 : 0);
}

void SettingsView::forget(const std::vector<int>& rows) {
    // Rows name the list as it was shown when the user forgot them.
    const std::vector<TrustedPeer> shown = paired_;
    TrustedPeers trusted(env_.keychain);
    for (int row : rows) {
        if (row >= 0 && row < static_cast<int>(shown.size()))
            trusted.remove(shown[static_cast<std::size_t>(row)].publicKey);
    }
    loadPaired();
    refreshPaired();
}

void SettingsView::setImportsFiles(bool on) {
    defaults().set("importsFiles", on);
}

void SettingsView::refreshFolder() {
    const QString path = QString::fromStdString(shootLibrary().defaultFolder().string());
    folder_->setToolTip(path);
    folder_->setText(QFontMetrics(folder_->font()).elidedText(path, Qt::ElideMiddle, std::max(360, folder_->width())));
    folder_->setProperty("fullPath", path);
    useDefault_->setVisible(shootLibrary().resolveBookmark().has_value());
}

QString SettingsView::shootFolderText() const {
    return folder_->property("fullPath").toString();
}

void SettingsView::chooseFolder() {
    auto folder = env_.chooseFolder();
    if (!folder) return;
    std::error_code ec;
    if (fs::is_directory(*folder, ec)) shootLibrary().chooseFolder(*folder);
    refreshFolder();
}

void SettingsView::useDefaultFolder() {
    defaults().remove(std::string(ShootLibrary::bookmarkKey));
    refreshFolder();
}

void SettingsView::openFolder() {
    env_.openURL(QUrl::fromLocalFile(QString::fromStdString(shootLibrary().defaultFolder().string())));
}

void SettingsView::openUnfiledFolder() {
    if (env_.unfiledFolder.empty()) return;
    std::error_code ec;
    fs::create_directories(env_.unfiledFolder, ec);  // a file browser cannot open a folder not made yet
    env_.openURL(QUrl::fromLocalFile(QString::fromStdString(env_.unfiledFolder.string())));
}

}  // namespace morvane
