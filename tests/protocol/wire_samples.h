#pragma once

// Fully populated sample values of the wire model, shared by the tests and the codec benchmark.

#include "protocol/camera_command.h"
#include "protocol/camera_event.h"
#include "protocol/camera_status.h"
#include "protocol/deck_edit.h"
#include "protocol/gallery.h"
#include "protocol/transfer_info.h"

namespace morvane::samples {

inline Uuid uuid(const char* text) {
    return *Uuid::parse(text);
}

inline const char* const idA = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
inline const char* const idB = "0B5A3B1C-1111-4A2B-8C3D-FFEEDDCCBBAA";

/// Every field away from its default, every optional present.
inline CameraStatus fullStatus() {
    CameraStatus s;
    s.mode = CaptureMode::video;
    s.timerSeconds = 3;
    s.countdown = 2;
    s.isRecording = true;
    s.recordingElapsed = 12.5;
    s.exposureBias = -0.3f;
    s.isFrontCamera = true;
    s.lenses = {0.5, 1.0, 2.0};
    s.zoom = 2.0;
    s.maxZoom = 15.0;
    FormatOption uhd;
    uhd.resolution = {3840, 2160};
    uhd.frameRates = {24, 25, 30};
    uhd.logFrameRates = {24, 30};
    uhd.colorFrameRates = std::map<std::string, std::vector<std::int64_t>>{{"hdr", {24, 30}}, {"appleLog2", {24}}};
    FormatOption hd;
    hd.resolution = {1920, 1080};
    hd.frameRates = {24, 30, 60};
    hd.logFrameRates = {};
    s.formats = {uhd, hd};
    s.resolution = {3840, 2160};
    s.frameRate = 24;
    s.ntsc = true;
    s.colorProfile = ColorProfile::appleLog;
    s.previewLUT = PreviewLUT::custom;
    s.customLUTName = "Film Look";
    s.whiteBalance = WhiteBalance::Manual{5600, -3.5f};
    s.supportsManualWhiteBalance = true;
    s.focus = FocusSetting::Manual{0.25f};
    s.supportsManualFocus = true;
    s.portrait = true;
    s.supportsPortrait = true;
    s.exposure = ExposureSetting::Manual{400, 0.02};
    s.minISO = 32;
    s.maxISO = 3200;
    s.minShutter = 0.0001;
    s.maxShutter = 0.5;
    s.liveISO = 640;
    s.liveShutter = 0.01;
    s.liveAperture = 1.8f;
    s.apertureStops = {1.8f, 2.8f, 4.0f};
    s.aperture = 2.8f;
    s.shutterAngle = 172.8;
    s.zebras = true;
    s.peaking = true;
    s.peakingLevel = PeakingLevel::high;
    s.falseColor = true;
    s.clipping = true;
    s.scope = ScopeKind::parade;
    s.stabilization = Stabilization::cinematic;
    s.stabilizationModes = {Stabilization::standard, Stabilization::cinematic};
    s.codec = VideoCodec::proRes422HQ;
    s.proResCodecs = {VideoCodec::proRes422HQ, VideoCodec::proRes422};
    s.externalDrive = DriveStatus{"T7", 500000000000, "Drive almost full"};
    s.recordToDrive = true;
    s.dimmed = true;
    s.loupe = true;
    s.loupeContours = false;
    s.linkDelayMs = 42;
    s.battery = 0.8f;
    s.charging = true;
    s.freeBytes = 123456789012;
    s.thermal = 2;
    s.pendingTransfers = 3;
    s.transferName = "Take 01.mov";
    s.transferProgress = 0.25;
    s.transfersPaused = true;
    s.usbConnected = true;
    s.audioInputs = {{"builtin", "Built-in Microphone"}, {"usb-1", "USB Mic"}};
    s.audioInput = "usb-1";
    s.program = "Camera B";
    s.deckCopiesPreparing = 1;
    s.deckCopiesWaiting = 2;
    s.deckCopyProgress = 0.5;
    return s;
}

inline GalleryItem galleryItem() {
    return GalleryItem{uuid(idA),     Date{726000000.5}, true, 12.25, Bytes{0xFF, 0xD8, 0xFF, 0xE0},
                       "vault-1.mov", "ASSET/L0/001"};
}

inline DeckEdit deckEdit() {
    return DeckEdit{
        uuid(idB),
        "Take 3 edit",
        Date{726000100},
        {{"Camera A", Date{726000000}, Date{726000010.5}}, {"Camera B", Date{726000010.5}, Date{726000020}}},
        DeckEdit::Sound::Camera{"Camera A"}};
}

inline TransferInfo transferInfo() {
    return TransferInfo{uuid(idA),
                        "Take 03 – Camera A.mov",
                        Date{726000000.25},
                        true,
                        61.5,
                        std::vector<ProgramCut>{{"Camera A", Date{726000001}}, {"Camera B", Date{726000030.75}}}};
}

}  // namespace morvane::samples
