// Writes the seed corpora in fuzz/corpus/ with the system's own encoders: small, real examples of every message,
// packet and file the fuzz programs take. Run by hand after a format changes: seed_maker <corpus folder>.

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "camera/capture_store.h"
#include "camera/outbox.h"
#include "camera/take_log.h"
#include "deck/retouch_library.h"
#include "link/link_message.h"
#include "link/trusted_peers.h"
#include "link/usb_link.h"
#include "platform/defaults.h"
#include "platform/h264_compression_session.h"
#include "platform/h264_format.h"
#include "platform/manual_executor.h"
#include "platform/nearby_beacon.h"
#include "protocol/live_packets.h"
#include "protocol/message_codec.h"
#include "shoot_library/shoot_library.h"
#include "wire_samples.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

fs::path corpusRoot;

void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path folder = corpusRoot / target;
    fs::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::cerr << "cannot write " << (folder / name) << "\n";
        std::exit(1);
    }
}

void put(const std::string& target, const std::string& name, std::string_view text) {
    put(target, name, Bytes(text.begin(), text.end()));
}

Bytes must(std::optional<Bytes> bytes, const char* what) {
    if (!bytes) {
        std::cerr << "could not encode " << what << "\n";
        std::exit(1);
    }
    return std::move(*bytes);
}

Bytes readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    return Bytes(text.begin(), text.end());
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// MARK: protocol

void jsonMessages() {
    const std::string t = "fuzz_json_messages";
    put(t, "status_full", must(encodeMessage(PacketType::status, samples::fullStatus()), "status"));
    put(t, "status_defaults", must(encodeMessage(PacketType::status, CameraStatus{}), "status"));
    // Read by the tolerant path: a field of the wrong type and one missing.
    Json odd = samples::fullStatus();
    odd["isRecording"] = "yes";
    odd.erase("zoom");
    put(t, "status_tolerant", must(encodeMessage(PacketType::status, odd), "status"));
    put(t, "event", must(encodeMessage(PacketType::event, CameraEvent{CameraEvent::Kind::videoSaved, "Saved",
                                                                      samples::galleryItem()}),
                         "event"));
    put(t, "event_plain", must(encodeMessage(PacketType::event, CameraEvent{CameraEvent::Kind::failed, "No space",
                                                                            std::nullopt}),
                               "event"));
    put(t, "gallery", must(encodeMessage(PacketType::gallery, std::vector<GalleryItem>{samples::galleryItem()}),
                           "gallery"));
    put(t, "preview", must(encodeMessage(PacketType::preview, GalleryPreview{samples::uuid(samples::idA),
                                                                             Bytes{0xFF, 0xD8, 0xFF, 0xD9}}),
                           "preview"));
    put(t, "transfer_info", must(encodeMessage(PacketType::transferInfo, samples::transferInfo()), "transfer"));
    put(t, "deck_edit", must(encodeMessage(PacketType::deckEdit, samples::deckEdit()), "deck edit"));

    using C = CameraCommand;
    const std::pair<const char*, CameraCommand> commands[] = {
        {"set_mode", C{C::SetMode{CaptureMode::video}}},
        {"set_zoom", C{C::SetZoom{2.5, true}}},
        {"shutter", C{C::Shutter{}}},
        {"set_format", C{C::SetFormat{{3840, 2160}, 25}}},
        {"set_frame_rate", C{C::SetFrameRate{30, true}}},
        {"load_lut", C{C::LoadCustomLUT{"Look", 1, Bytes(12, 0x3F)}}},
        {"white_balance", C{C::SetWhiteBalance{WhiteBalance::Manual{4300, 2}}}},
        {"focus_locked", C{C::SetFocusMode{FocusSetting::Locked{}}}},
        {"exposure_manual", C{C::SetExposureMode{ExposureSetting::Manual{800, 1.0 / 48}}}},
        {"manual_angle", C{C::SetManualAngle{400, 172.8}}},
        {"aperture", C{C::SetAperture{2.8f}}},
        {"loupe", C{C::SetLoupe{true, true}}},
        {"delete", C{C::DeleteCaptures{{samples::uuid(samples::idA), samples::uuid(samples::idB)}}}},
        {"monitor_hello", C{C::MonitorHello{true}}},
        {"deck_edit", C{C::DeckEdit{samples::deckEdit()}}},
        {"stream_size", C{C::SetStreamSize{1280}}},
        {"program_cut", C{C::ProgramCut{"Camera B"}}},
        {"deck_copies", C{C::RequestDeckCopies{Date{726000000}}}},
        {"focus_point", C{C::Focus{0.25, 0.75}}},
        {"preview", C{C::RequestPreview{samples::uuid(samples::idB)}}},
    };
    for (const auto& [name, command] : commands)
        put(t, std::string("command_") + name, must(encodeMessage(PacketType::command, command), name));
}

void livePackets() {
    const std::string t = "fuzz_live_packets";
    put(t, "clock_ping", ClockPing{{1, 2, 3, 4, 5, 6, 7, 8}}.encode());
    put(t, "clock_pong", ClockPong::answering(ClockPing{{1, 2, 3, 4, 5, 6, 7, 8}}, 1.7e9, 0.25).encode());
    HistogramPacket histogram;
    for (std::size_t i = 0; i < histogram.bins.size(); ++i) histogram.bins[i] = static_cast<std::uint8_t>(i * 4);
    put(t, "histogram", histogram.encode());
    put(t, "audio_level", AudioLevelPacket{200}.encode());
    put(t, "loupe", LoupePacket{Bytes{0xFF, 0xD8, 0xFF, 0xD9}}.encode());
    put(t, "level", LevelPacket::fromRoll(-12.6).encode());
    put(t, "level_none", LevelPacket::fromRoll(std::nullopt).encode());
    put(t, "scope", must(ScopePacket{ScopeKind::parade, 6, 4, Bytes(24, 180)}.encode(), "scope"));
    put(t, "parameter_sets", must(ParameterSetsPacket{{Bytes{0x67, 0x42, 0xC0, 0x1E}, Bytes{0x68, 0xCE}}}.encode(),
                                  "parameter sets"));
    put(t, "frame", FramePacket::encode(77, true, 1, Bytes{0, 0, 0, 2, 0x65, 0x88}));
    put(t, "ack", AckPacket{77}.encode());
    put(t, "keyframe_request", keyframeRequestPacket());
}

// MARK: video

struct Encoded {
    std::vector<Bytes> parameterSets;
    std::vector<std::pair<bool, Bytes>> accessUnits;  // key frame, access unit
};

Encoded encodeVideo(int width, int height, int frames) {
    H264CompressionSession::Settings settings;
    settings.width = width;
    settings.height = height;
    settings.bitRate = 200'000;
    settings.keyframeInterval = 30;
    auto session = H264CompressionSession::make(settings);
    if (!session) {
        std::cerr << "no H.264 encoder\n";
        std::exit(1);
    }
    Encoded out;
    for (int i = 0; i < frames; ++i) {
        auto picture = session->makeTestPicture(i);
        auto output = session->encode(*picture, i == 0);
        if (!output) {
            std::cerr << "the encoder gave nothing\n";
            std::exit(1);
        }
        if (!output->parameterSets.empty() && out.parameterSets.empty()) {
            for (auto& set : output->parameterSets) out.parameterSets.emplace_back(set.begin(), set.end());
        }
        out.accessUnits.emplace_back(output->isKeyframe, Bytes(output->accessUnit.begin(), output->accessUnit.end()));
    }
    return out;
}

Bytes lengthPrefixed(const Bytes& packet) {
    Bytes out;
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(packet.size() >> shift));
    out.insert(out.end(), packet.begin(), packet.end());
    return out;
}

void video() {
    const auto small = encodeVideo(64, 48, 3);
    const auto wide = encodeVideo(160, 90, 2);
    const std::string sets = "fuzz_h264_parameter_sets";
    put(sets, "packet_64x48", must(ParameterSetsPacket{small.parameterSets}.encode(), "sets"));
    put(sets, "packet_160x90", must(ParameterSetsPacket{wide.parameterSets}.encode(), "sets"));
    put(sets, "sps_64x48", small.parameterSets.front());
    put(sets, "sps_160x90", wide.parameterSets.front());

    const std::string stream = "fuzz_video_stream";
    auto write = [&](const std::string& name, const Encoded& video, std::uint8_t rotation) {
        Bytes out = lengthPrefixed(must(ParameterSetsPacket{video.parameterSets}.encode(), "sets"));
        std::uint32_t number = 1;
        for (const auto& [key, unit] : video.accessUnits) {
            const auto packet = lengthPrefixed(FramePacket::encode(number++, key, rotation, unit));
            out.insert(out.end(), packet.begin(), packet.end());
        }
        put(stream, name, out);
    };
    write("stream_64x48", small, 0);
    write("stream_160x90_turned", wide, 1);

    // The largest picture accepted. Not a stream seed: decoding pictures of that size takes a second a run, which
    // the few seconds of the test command cannot spare.
    const Encoded largest = encodeVideo(H264Format::maxSide, H264Format::maxSide, 1);
    put(sets, "packet_largest", must(ParameterSetsPacket{largest.parameterSets}.encode(), "sets"));
}

// MARK: links

void linkMessages() {
    const std::string t = "fuzz_link_messages";
    using Kind = LinkMessage::Kind;
    auto message = [](Kind kind, const Bytes& body) {
        Bytes out{static_cast<std::uint8_t>(kind)};
        out.insert(out.end(), body.begin(), body.end());
        return out;
    };
    const crypto::X25519PrivateKey key;
    put(t, "hello", message(Kind::hello, LinkMessage::Hello{1, samples::uuid(samples::idA), "Camera A",
                                                            key.publicKey()}
                                             .encode()));
    put(t, "proof", message(Kind::proof, Bytes(32, 0x5A)));
    put(t, "pair", message(Kind::pair, {}));
    put(t, "commit", message(Kind::commit, Bytes(32, 0x11)));
    put(t, "refuse", message(Kind::refuse, {static_cast<std::uint8_t>(LinkMessage::RefuseReason::declined)}));
    put(t, "data", message(Kind::data, must(encodeMessage(PacketType::status, CameraStatus{}), "status")));
    put(t, "file_start", message(Kind::fileStart, LinkMessage::FileStart{7, 123456, "Take 01.mov"}.encode()));
    put(t, "file_chunk", message(Kind::fileChunk, join({LinkMessage::encodeChunkHeader(7), Bytes(64, 0xAB)})));
    crypto::Digest digest{};
    digest.fill(0xC3);
    put(t, "file_end", message(Kind::fileEnd, LinkMessage::FileEnd{7, digest}.encode()));
    put(t, "file_cancel", message(Kind::fileCancel, LinkMessage::encodeId(7)));
    put(t, "file_result", message(Kind::fileResult, LinkMessage::FileResult{7, LinkMessage::FileStatus::ok}.encode()));

    const std::string d = "fuzz_nearby_announcement";
    nearby::NearbyAnnouncement announcement;
    announcement.role = 1;
    announcement.instance = samples::uuid(samples::idB);
    announcement.name = "Camera B";
    announcement.publicKey = key.publicKey();
    announcement.port = 51234;
    put(d, "announce", announcement.encode("morvane"));
    announcement.kind = nearby::NearbyAnnouncement::Kind::query;
    put(d, "query", announcement.encode("morvane"));
    announcement.kind = nearby::NearbyAnnouncement::Kind::bye;
    put(d, "bye", announcement.encode("morvane"));

    const std::string u = "fuzz_usb_link";
    const USBLink::Hello hello{TrustedPeer::cameraRole, "Camera A", key.publicKey(), Bytes(32, 0x42)};
    const Bytes helloFrame = USBLink::frame(USBLink::Kind::hello, USBLink::encodeHello(hello));
    const Bytes proofFrame = USBLink::frame(USBLink::Kind::proof, Bytes(32, 0x24));
    const Bytes startFrame = USBLink::frame(
        USBLink::Kind::fileStart, must(USBLink::encodeFileStart({100, samples::transferInfo()}), "file start"));
    const Bytes dataFrame = USBLink::frame(USBLink::Kind::fileData, Bytes(100, 0x61));
    const Bytes endFrame = USBLink::frame(USBLink::Kind::fileEnd, Bytes(digest.begin(), digest.end()));
    const Bytes ackFrame =
        USBLink::frame(USBLink::Kind::ack, USBLink::encodeAck({samples::uuid(samples::idA), true}));
    // The first byte sets the sizes of the reads.
    put(u, "handshake", join({{0x01}, helloFrame, proofFrame}));
    put(u, "file", join({{0x9C}, startFrame, dataFrame, endFrame}));
    put(u, "ack", join({{0x30}, ackFrame}));

    const std::string p = "fuzz_trusted_peers";
    const std::vector<TrustedPeer> peers{{key.publicKey(), "Camera A", TrustedPeer::cameraRole, Date{726000000}},
                                         {Bytes(32, 0x07), "Remote", TrustedPeer::remoteRole, Date{726000123.5}}};
    put(p, "two_peers", TrustedPeers::encode(peers));
}

// MARK: files on disk

void takesFile(const fs::path& scratch) {
    const fs::path library = scratch / "library";
    fs::create_directories(library);
    for (const char* name : {"A.mov", "B.mov", "C.mov"}) std::ofstream(library / name).put('x');

    RetouchClip a{samples::uuid(samples::idA), "Camera A", "A.mov", Date{726000000}, 12.5};
    RetouchClip b{samples::uuid(samples::idB), "Camera B", "B.mov", Date{726000001.25}, 11};
    RetouchTake collecting;
    collecting.id = samples::uuid("11111111-2222-4333-8444-555555555555");
    collecting.number = 1;
    collecting.clips = {a, b};
    collecting.cuts = {{"Camera A", Date{726000000.5}}, {"Camera B", Date{726000006}}};

    RetouchTake edited = collecting;
    edited.id = samples::uuid("66666666-7777-4888-8999-AAAAAAAAAAAA");
    edited.number = 2;
    edited.clips = {RetouchClip{samples::uuid("0A0A0A0A-0B0B-4C0C-8D0D-0E0E0E0E0E0E"), "Camera A", "C.mov",
                                Date{726000100}, 20}};
    edited.name = "Interview";
    RetouchEdit edit;
    edit.switches = {{samples::uuid(samples::idA), 0, "Camera A"}, {samples::uuid(samples::idB), 4.5, "Camera B"}};
    edit.trimStart = 0.5;
    edit.trimEnd = 18;
    edit.sound = RetouchEdit::Sound::camera("Camera A");
    edit.volumes = {{"Camera A", 0.8f}};
    edit.soundOffsets = {{"Camera B", 0.04}};
    edit.removedSections = std::vector<RetouchEdit::Section>{{samples::uuid(samples::idB), 6, 8}};
    edited.edit = edit;

    RetouchTake exported;
    exported.id = samples::uuid("ABCDEF01-2345-4678-89AB-CDEF01234567");
    exported.number = 3;
    exported.exportedAt = Date{726000500};
    exported.exportedFile = "Take 03.mov";
    exported.exportedClips = std::vector<RetouchClip>{a};

    {
        RetouchLibrary takes(library, scratch / "program");
        takes.setTakes({collecting, edited, exported});
        takes.save();
    }
    put("fuzz_takes_file", "three_takes", readAll(library / "takes.json"));
}

void shootManifest() {
    using Day = ShootLibrary::Day;
    Day day;
    ShootLibrary::Clip movie;
    movie.file = "Take 01 – 10.00.00 – Camera A.mov";
    movie.camera = "Camera A";
    movie.start = Date{726000000};
    movie.duration = 61.5;
    movie.isVideo = true;
    movie.take = 1;
    movie.frameRate = 30;
    movie.ntsc = true;
    movie.width = 1920;
    movie.height = 1080;
    movie.timecodeFrame = 1294705;
    ShootLibrary::Clip second = movie;
    second.file = "Take 01 – 10.00.01 – Camera B.mov";
    second.camera = "Camera B";
    second.start = Date{726000001.5};
    second.frameRate = 25;
    second.ntsc = false;
    second.timecodeFrame = std::nullopt;
    ShootLibrary::Clip photo;
    photo.file = "Photo – 10.01.00 – Camera B.jpg";
    photo.camera = "Camera B";
    photo.start = Date{726000060};
    day.clips = {movie, second, photo};
    day.markers = {{1, Date{726000010}, {"Camera A", "Camera B"}}};
    day.cuts = {{"Camera A", Date{726000000.5}}, {"Camera B", Date{726000020}}};
    day.deckEdits = {samples::deckEdit()};
    auto text = ShootLibrary::encodeManifest(day);
    if (!text) std::exit(1);
    put("fuzz_shoot_manifest", "day", *text);
    auto empty = ShootLibrary::encodeManifest(Day{});
    put("fuzz_shoot_manifest", "empty_day", *empty);
}

void movies(const fs::path& scratch) {
    // Movies with a timecode track as the camera records them, made by the ffmpeg tool: drop frame and 25 fps,
    // the index before and after the media data.
    const struct {
        const char* name;
        const char* rate;
        const char* timecode;
        const char* flags;
    } movies[] = {
        {"tmcd_2997_drop", "30000/1001", "12:00:00;01", ""},
        {"tmcd_25_faststart", "25", "10:00:00:07", "-movflags +faststart"},
    };
    for (const auto& m : movies) {
        const fs::path out = scratch / (std::string(m.name) + ".mov");
        const std::string command = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=16x16:rate=") +
                                    m.rate + " -frames:v 2 -c:v mpeg4 -timecode '" + m.timecode + "' " + m.flags +
                                    " '" + out.string() + "'";
        if (std::system(command.c_str()) != 0) {
            std::cerr << "failed: " << command << "\n";
            std::exit(1);
        }
        put("fuzz_movie_atoms", m.name, readAll(out));
        put("fuzz_movie_probe", m.name, readAll(out));
    }
    // A copy as the deck receives it: picture and sound.
    const fs::path sound = scratch / "sound.mov";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=16x16:rate=30 -f lavfi -i "
                                "sine=d=0.1:sample_rate=8000 -frames:v 2 -c:v mpeg4 -c:a aac -shortest '" +
                                sound.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::cerr << "failed: " << command << "\n";
        std::exit(1);
    }
    put("fuzz_movie_probe", "picture_and_sound", readAll(sound));
}

void defaultsFile(const fs::path& scratch) {
    const fs::path file = scratch / "defaults.json";
    {
        Defaults defaults(file);
        defaults.set("flag", true);
        defaults.set("number", 2.5);
        defaults.set("whole", 42);
        defaults.set("name", "Camera A");
        defaults.set("list", std::vector<std::string>{"one", "two"});
        defaults.set("shootFolderBookmark", "/home/user/Movies/Shoot");
    }
    put("fuzz_defaults_file", "settings", readAll(file));
}

void cameraStores(const fs::path& scratch) {
    // The first byte picks the file: 0 take log, 1 outbox, 2 capture index.
    const std::string t = "fuzz_camera_stores";
    const fs::path folder = scratch / "camera";
    fs::create_directories(folder);
    {
        TakeLog log(folder / "takes.json");
        log.append({samples::transferInfo(), true, false, "vault-1.mov", std::nullopt, false});
        log.append({TransferInfo{samples::uuid(samples::idB), "Take 02.mov", Date{726000100}, true, 30.5, std::nullopt},
                    false, std::nullopt, std::nullopt, "ASSET/L0/002", true});
    }
    put(t, "take_log", join({{0}, readAll(folder / "takes.json")}));
    {
        auto main = std::make_shared<ManualExecutor>();
        Outbox outbox(folder, main);
        outbox.add({samples::transferInfo(), Outbox::Item::Location::outbox, "2026-12-07 10.00.00 Camera.mov"});
        outbox.add({TransferInfo{samples::uuid(samples::idB), "Photo.jpg", Date{726000200}, false, std::nullopt,
                                 std::nullopt},
                    Outbox::Item::Location::vault, "Photo.jpg"});
        main->runPending();
    }
    put(t, "outbox", join({{1}, readAll(folder / "outbox.json")}));
    {
        CaptureStore store(folder);
        QImage picture(32, 24, QImage::Format_RGB32);
        picture.fill(qRgb(200, 120, 40));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPEG");
        auto pending = CaptureStore::makePending(Bytes(jpeg.begin(), jpeg.end()), Date{726000300});
        if (!pending) std::exit(1);
        store.add(*pending);
    }
    put(t, "capture_index", join({{2}, readAll(folder / "index.json")}));
}

void pictures() {
    const std::string t = "fuzz_camera_image";
    QImage image(16, 12, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 16, y * 20, 128));
    for (const char* format : {"jpg", "png", "bmp", "ppm"}) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(image)) {
            std::cerr << "cannot write " << format << "\n";
            std::exit(1);
        }
        put(t, std::string("picture.") + format, Bytes(bytes.begin(), bytes.end()));
    }
    put(t, "scope_waveform", must(ScopePacket{ScopeKind::waveform, 8, 4, Bytes(32, 90)}.encode(), "scope"));
}

}  // namespace
}  // namespace morvane

int main(int argc, char** argv) {
    using namespace morvane;
    if (argc != 2) {
        std::cerr << "usage: seed_maker <corpus folder>\n";
        return 2;
    }
    corpusRoot = argv[1];
    char pattern[] = "/tmp/morvane-seeds-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const fs::path scratch = pattern;

    jsonMessages();
    livePackets();
    video();
    linkMessages();
    takesFile(scratch);
    shootManifest();
    movies(scratch);
    defaultsFile(scratch);
    cameraStores(scratch);
    pictures();

    fs::remove_all(scratch);
    return 0;
}
