#include "remote/voice_trigger.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QLocale>
#include <QMediaDevices>
#include <QString>
#include <QThread>

#include <chrono>
#include <sstream>
#include <vector>

#include "platform/defaults.h"
#include "qt_main_executor.h"

namespace morvane {

namespace {

constexpr double swallowWindow = 1.5;
constexpr double rearmAfterError = 0.5;
constexpr double rearmAfterFinal = 0.05;
constexpr std::size_t maxWordLength = 30;
constexpr std::size_t heardWordCount = 5;

struct WordSetting {
    const char* key;
    const char* fallback;
};
constexpr WordSetting shutterSetting{VoiceTrigger::shutterKey, "pemble"};
constexpr WordSetting recordSetting{VoiceTrigger::recordKey, "action"};
constexpr WordSetting stopSetting{VoiceTrigger::stopKey, "cut"};
constexpr WordSetting markSetting{VoiceTrigger::markKey, "mark"};

const char* fallbackFor(const std::string& key) {
    for (const auto& s : {shutterSetting, recordSetting, stopSetting, markSetting}) {
        if (key == s.key) return s.fallback;
    }
    return "";
}

Defaults& defaultsOf(Defaults* defaults) {
    return defaults ? *defaults : Defaults::standard();
}

std::shared_ptr<Executor> mainOf(const std::shared_ptr<Executor>& queue) {
    return queue ? queue : std::static_pointer_cast<Executor>(QtMainExecutor::shared());
}

std::string currentLocaleIdentifier() {
    return QLocale::system().name().replace('_', '-').toStdString();
}

double monotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

VoiceTrigger::Environment completed(VoiceTrigger::Environment env) {
    if (!env.mainQueue) env.mainQueue = mainOf(nullptr);
    if (!env.makeRecognizer) {
        env.makeRecognizer = [](const std::string& locale) { return SpeechRecognizer::make(locale); };
    }
    if (!env.currentLocale) env.currentLocale = currentLocaleIdentifier;
    if (!env.now) env.now = monotonicSeconds;
    return env;
}

std::optional<SpeechAudioConverter::SampleType> sampleTypeOf(QAudioFormat::SampleFormat format) {
    switch (format) {
        case QAudioFormat::UInt8:
            return SpeechAudioConverter::SampleType::uint8;
        case QAudioFormat::Int16:
            return SpeechAudioConverter::SampleType::int16;
        case QAudioFormat::Int32:
            return SpeechAudioConverter::SampleType::int32;
        case QAudioFormat::Float:
            return SpeechAudioConverter::SampleType::float32;
        default:
            return std::nullopt;
    }
}

}  // namespace

/// The default audio input, captured on its own thread "morvane.voice-mic" with an event loop (which Qt's
/// audio sources need), handing every buffer to a sink on that thread.
class VoiceMicrophone {
public:
    using Sink = std::function<void(std::span<const std::byte>, const SpeechAudioConverter::Format&)>;

    explicit VoiceMicrophone(Sink sink) : sink_(std::move(sink)) {}
    ~VoiceMicrophone() { stop(); }

    bool start() {
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull()) return false;
        thread_.setObjectName(QStringLiteral("morvane.voice-mic"));
        thread_.start();
        context_ = new QObject();
        context_->moveToThread(&thread_);
        bool started = false;
        QMetaObject::invokeMethod(
            context_,
            [&] {
                QAudioFormat format;
                format.setSampleRate(SpeechAudioConverter::outputRate);
                format.setChannelCount(1);
                format.setSampleFormat(QAudioFormat::Int16);
                if (!device.isFormatSupported(format)) format = device.preferredFormat();
                const auto type = sampleTypeOf(format.sampleFormat());
                if (!type || format.channelCount() <= 0 || format.sampleRate() <= 0) return;
                const SpeechAudioConverter::Format heard{*type, format.channelCount(), format.sampleRate()};
                source_ = new QAudioSource(device, format, context_);
                QIODevice* io = source_->start();
                if (!io || source_->error() != QAudio::NoError) {
                    delete source_;
                    source_ = nullptr;
                    return;
                }
                QObject::connect(io, &QIODevice::readyRead, context_, [this, io, heard] {
                    const QByteArray data = io->readAll();
                    if (!data.isEmpty()) {
                        sink_(std::as_bytes(std::span(data.constData(), static_cast<std::size_t>(data.size()))), heard);
                    }
                });
                started = true;
            },
            Qt::BlockingQueuedConnection);
        if (!started) stop();
        return started;
    }

    void stop() {
        if (!thread_.isRunning()) return;
        QMetaObject::invokeMethod(
            context_,
            [this] {
                if (source_) source_->stop();
                delete context_;  // and the source with it
                context_ = nullptr;
                source_ = nullptr;
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }

private:
    Sink sink_;
    QThread thread_;
    QObject* context_ = nullptr;      // lives on thread_
    QAudioSource* source_ = nullptr;  // child of context_
};

// Making and settings.

std::shared_ptr<VoiceTrigger> VoiceTrigger::make(Environment environment) {
    return std::shared_ptr<VoiceTrigger>(new VoiceTrigger(completed(std::move(environment))));
}

VoiceTrigger::VoiceTrigger(Environment environment) : env_(std::move(environment)) {
    keyword_ = normaliseSpeech(storedWord(shutterSetting.key, env_.defaults));
    markKeyword_ = normaliseSpeech(storedWord(markSetting.key, env_.defaults));
    recordKeyword_ = normaliseSpeech(storedWord(recordSetting.key, env_.defaults));
    stopKeyword_ = normaliseSpeech(storedWord(stopSetting.key, env_.defaults));
    recognizer_ = recognizerLocale(env_);
}

VoiceTrigger::~VoiceTrigger() {
    // The owner stops the trigger first; this only makes sure no audio thread outlives it.
    if (mic_) mic_->stop();
    if (task_) task_->cancel();
}

std::string VoiceTrigger::storedWord(const std::string& key, Defaults* defaults) {
    return defaultsOf(defaults).stringValue(key, fallbackFor(key));
}

std::string VoiceTrigger::listeningMessage(Defaults* defaults) {
    return "Listening for: " + storedWord(shutterSetting.key, defaults) + " · " +
           storedWord(recordSetting.key, defaults) + " · " + storedWord(stopSetting.key, defaults) + " · " +
           storedWord(markSetting.key, defaults);
}

std::string VoiceTrigger::heardMessage(const std::string& key, Defaults* defaults) {
    return "Heard “" + storedWord(key, defaults) + "”";
}

std::string VoiceTrigger::cleanedWord(std::string_view text) {
    const QString input = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    std::vector<char32_t> kept;
    for (char32_t c : input.toUcs4()) {
        if (kept.size() >= maxWordLength) break;
        if (c == U' ' || c == U'\'' || QChar::isLetter(c)) kept.push_back(c);
    }
    QString out = QString::fromUcs4(kept.data(), static_cast<qsizetype>(kept.size()));
    while (out.startsWith(QLatin1Char(' '))) out.remove(0, 1);
    while (out.endsWith(QLatin1Char(' '))) out.chop(1);
    return out.toStdString();
}

void VoiceTrigger::saveWord(std::string_view text, const std::string& key, Defaults* defaults) {
    const std::string cleaned = cleanedWord(text);
    if (cleaned.empty()) {
        defaultsOf(defaults).remove(key);
    } else {
        defaultsOf(defaults).set(key, cleaned);
    }
}

void VoiceTrigger::saveShutterWord(std::string_view text, Defaults* defaults) {
    saveWord(text, shutterSetting.key, defaults);
}

void VoiceTrigger::quotedKeyword(std::string_view text, Defaults* defaults) {
    saveShutterWord(text, defaults);
}

void VoiceTrigger::quotedKeywords(std::string_view text, const std::string& key, Defaults* defaults) {
    saveWord(text, key, defaults);
}

// Recognisers.

std::shared_ptr<SpeechRecognizer> VoiceTrigger::recognizerLocale(const Environment& environment) {
    const Environment env = completed(environment);
    for (const std::string& locale : {env.currentLocale(), std::string("en-US")}) {
        auto recognizer = env.makeRecognizer(locale);
        if (recognizer && recognizer->supportsOnDeviceRecognition()) return recognizer;
    }
    return nullptr;
}

std::optional<std::string> VoiceTrigger::supportedLanguageName(const Environment& environment) {
    auto recognizer = recognizerLocale(environment);
    if (!recognizer) return std::nullopt;
    const QLocale locale(QString::fromStdString(recognizer->locale()).replace('-', '_'));
    QString name = QLocale::languageToString(locale.language());
    if (locale.territory() != QLocale::AnyTerritory) {
        name += QStringLiteral(" (") + QLocale::territoryToString(locale.territory()) + QStringLiteral(")");
    }
    return name.toStdString();
}

std::optional<std::string> VoiceTrigger::isSupported(const Environment& environment) {
    return supportedLanguageName(environment);
}

void VoiceTrigger::requestPermissions(bool, std::function<void(bool)> completion, std::shared_ptr<Executor> mainQueue) {
    // Neither the microphone nor recognition asks for consent here; answer as a granted prompt would.
    if (!completion) return;
    mainOf(mainQueue)->async([completion = std::move(completion)] { completion(true); });
}

// Matching.

std::string VoiceTrigger::normaliseSpeech(std::string_view text) {
    const QString input = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // Decompose so that accents become marks of their own, drop the marks, then fold case.
    const QString decomposed = input.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (char32_t c : decomposed.toUcs4()) {
        const auto category = QChar::category(c);
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
            category == QChar::Mark_Enclosing) {
            continue;
        }
        folded.append(QString::fromUcs4(&c, 1));
    }
    folded = folded.toCaseFolded();
    std::string out;
    std::string piece;
    for (char32_t c : folded.toUcs4()) {
        if (QChar::isLetterOrNumber(c)) {
            piece += QString::fromUcs4(&c, 1).toStdString();
        } else if (!piece.empty()) {
            out += (out.empty() ? "" : " ") + piece;
            piece.clear();
        }
    }
    if (!piece.empty()) out += (out.empty() ? "" : " ") + piece;
    return out;
}

bool VoiceTrigger::matches(std::string_view word, std::string_view heard) {
    const std::string w = normaliseSpeech(word);
    if (w.empty()) return false;
    const std::string h = " " + normaliseSpeech(heard) + " ";
    return h.find(" " + w + " ") != std::string::npos;
}

// Listening.

bool VoiceTrigger::start(Source source) {
    if (!recognizer_ || !recognizer_->isAvailable()) {
        if (onIssue) onIssue(offlineModelMessage);
        return false;
    }
    running_ = true;
    if (source == Source::microphone) {
        std::weak_ptr<VoiceTrigger> weak = weak_from_this();
        mic_ = std::make_unique<VoiceMicrophone>(
            [weak](std::span<const std::byte> bytes, const SpeechAudioConverter::Format& format) {
                if (auto trigger = weak.lock()) trigger->appendAudio(bytes, format);
            });
        if (!mic_->start()) {
            mic_.reset();
            running_ = false;
            if (onIssue) onIssue(microphoneMessage);
            return false;
        }
    }
    startRecognition();
    return true;
}

void VoiceTrigger::stop() {
    running_ = false;
    generation_ += 1;
    if (task_) {
        task_->cancel();
        task_.reset();
    }
    {
        std::lock_guard guard(lock_);
        if (request_) request_->endAudio();
        request_.reset();
        converter_.reset();
    }
    if (mic_) {
        mic_->stop();
        mic_.reset();
    }
}

void VoiceTrigger::appendAudio(std::span<const std::byte> bytes, const SpeechAudioConverter::Format& format) {
    std::lock_guard guard(lock_);
    if (!request_) return;
    const auto& current = converter_ ? converter_->format() : format;
    if (!converter_ || current.sampleType != format.sampleType || current.channels != format.channels ||
        current.sampleRate != format.sampleRate) {
        converter_.emplace(format);
    }
    const auto samples = converter_->convert(bytes);
    request_->append(samples);
}

void VoiceTrigger::startRecognition() {
    if (!running_ || !recognizer_) return;
    generation_ += 1;
    const std::uint64_t g = generation_;
    // The phrases to listen for are the stored words as typed, read afresh.
    auto request = std::make_shared<SpeechRecognizer::Request>(std::vector<std::string>{
        storedWord(shutterSetting.key, env_.defaults), storedWord(markSetting.key, env_.defaults),
        storedWord(recordSetting.key, env_.defaults), storedWord(stopSetting.key, env_.defaults)});
    {
        std::lock_guard guard(lock_);
        if (request_) request_->endAudio();
        request_ = request;
    }
    std::weak_ptr<VoiceTrigger> weak = weak_from_this();
    auto main = env_.mainQueue;
    task_ = recognizer_->recognitionTask(request, [weak, main, g](std::optional<SpeechRecognizer::Result> result,
                                                                  std::optional<SpeechRecognizer::Error> error) {
        main->async([weak, g, result = std::move(result), error = std::move(error)] {
            if (auto trigger = weak.lock()) trigger->handleResult(result, error, g);
        });
    });
}

bool VoiceTrigger::isDictationError(const SpeechRecognizer::Error& error) {
    return error.code == 201 ||
           QString::fromStdString(error.description).contains(QStringLiteral("dictation"), Qt::CaseInsensitive);
}

void VoiceTrigger::handleResult(std::optional<SpeechRecognizer::Result> result,
                                std::optional<SpeechRecognizer::Error> error, std::uint64_t g) {
    if (generation_ != g) return;
    const std::string text = result ? result->transcript : std::string();
    if (error && isDictationError(*error)) {
        stop();
        if (onIssue) onIssue(dictationMessage);
        return;
    }
    if (!text.empty() && onHeard) {
        std::vector<std::string> pieces;
        std::istringstream in(text);
        for (std::string piece; std::getline(in, piece, ' ');) {
            if (!piece.empty()) pieces.push_back(piece);
        }
        const std::size_t first = pieces.size() > heardWordCount ? pieces.size() - heardWordCount : 0;
        std::string last;
        for (std::size_t i = first; i < pieces.size(); ++i) last += (last.empty() ? "" : " ") + pieces[i];
        onHeard(last);
    }
    if (matches(keyword_, text)) return fire(onTrigger);
    if (onRecord && matches(recordKeyword_, text)) return fire(onRecord);
    if (onStop && matches(stopKeyword_, text)) return fire(onStop);
    if (onMark && matches(markKeyword_, text)) return fire(onMark);
    if (error) {
        scheduleRearm(rearmAfterError, g);
    } else if (result && result->isFinal) {
        scheduleRearm(rearmAfterFinal, g);
    }
}

void VoiceTrigger::fire(const std::function<void()>& callback) {
    if (task_) task_->cancel();
    startRecognition();
    const double now = env_.now();
    if (!lastTrigger_ || now - *lastTrigger_ > swallowWindow) {
        lastTrigger_ = now;
        if (auto run = callback) run();  // a copy: the callback may replace itself
    }
}

void VoiceTrigger::scheduleRearm(double seconds, std::uint64_t g) {
    std::weak_ptr<VoiceTrigger> weak = weak_from_this();
    env_.mainQueue->asyncAfter(seconds, [weak, g] {
        auto trigger = weak.lock();
        if (trigger && trigger->generation_ == g) trigger->startRecognition();
    });
}

}  // namespace morvane
