#pragma once

#include <QLatin1String>

// The user-defaults keys. Every key begins "quorvenda."; keys under "quorvenda.state." hold
// state rather than settings.
namespace qv::SettingsKey {

inline constexpr QLatin1String prefix{"quorvenda."};
inline constexpr QLatin1String statePrefix{"quorvenda.state."};
inline constexpr QLatin1String wheelPrefix{"quorvenda.wheel."};
inline constexpr QLatin1String optionsPrefix{"quorvenda.options."};

inline constexpr QLatin1String triggerConvert{"quorvenda.trigger.convert"};
inline constexpr QLatin1String triggerTools{"quorvenda.trigger.tools"};
inline constexpr QLatin1String triggerActions{"quorvenda.trigger.actions"};
inline constexpr QLatin1String keyboardWhileDragging{"quorvenda.keyboardWhileDragging"};
// Wayland sessions: the screen edge whose strip catches drags ("left", "right", "top",
// "bottom" or "off"), and how long a drag rests on it to open the wheel, in seconds.
inline constexpr QLatin1String dragStripEdge{"quorvenda.dragStrip.edge"};
inline constexpr QLatin1String dragStripDwell{"quorvenda.dragStrip.dwell"};
inline constexpr QLatin1String accentColor{"quorvenda.accentColor"};
inline constexpr QLatin1String wheelSize{"quorvenda.wheelSize"};
inline constexpr QLatin1String sounds{"quorvenda.sounds"};
inline constexpr QLatin1String showHUD{"quorvenda.showHUD"};
inline constexpr QLatin1String paused{"quorvenda.paused"};
inline constexpr QLatin1String outputLocation{"quorvenda.output.location"};
inline constexpr QLatin1String preserveMetadata{"quorvenda.output.preserveMetadata"};
inline constexpr QLatin1String preserveDates{"quorvenda.output.preserveDates"};
inline constexpr QLatin1String openResult{"quorvenda.output.openResult"};
inline constexpr QLatin1String revealResult{"quorvenda.output.revealResult"};
inline constexpr QLatin1String jpegQuality{"quorvenda.quality.jpeg"};
inline constexpr QLatin1String heicQuality{"quorvenda.quality.heic"};
inline constexpr QLatin1String webpQuality{"quorvenda.quality.webp"};
inline constexpr QLatin1String avifQuality{"quorvenda.quality.avif"};
inline constexpr QLatin1String imageMaxDimension{"quorvenda.quality.imageMaxDimension"};
inline constexpr QLatin1String alphaBackground{"quorvenda.quality.alphaBackground"};
inline constexpr QLatin1String videoCodec{"quorvenda.quality.videoCodec"};
inline constexpr QLatin1String videoPreset{"quorvenda.quality.videoPreset"};
inline constexpr QLatin1String videoMaxResolution{"quorvenda.quality.videoMaxResolution"};
inline constexpr QLatin1String videoAudioBitrate{"quorvenda.quality.videoAudioBitrate"};
inline constexpr QLatin1String hardwareEncoding{"quorvenda.quality.hardwareEncoding"};
inline constexpr QLatin1String mp3Bitrate{"quorvenda.quality.mp3Bitrate"};
inline constexpr QLatin1String aacBitrate{"quorvenda.quality.aacBitrate"};
inline constexpr QLatin1String sampleRate{"quorvenda.quality.sampleRate"};
inline constexpr QLatin1String pdfDPI{"quorvenda.quality.pdfDPI"};
inline constexpr QLatin1String pdfCompression{"quorvenda.quality.pdfCompression"};
inline constexpr QLatin1String pageSize{"quorvenda.quality.pageSize"};
inline constexpr QLatin1String cpuJobs{"quorvenda.advanced.cpuJobs"};
inline constexpr QLatin1String videoJobs{"quorvenda.advanced.videoJobs"};
inline constexpr QLatin1String audioJobs{"quorvenda.advanced.audioJobs"};

// Used without a registered default.
// Megabytes of address space a worker process may use; absent or below 256, 4096.
inline constexpr QLatin1String workerMemory{"quorvenda.advanced.workerMemory"};
// Megabytes that the items of image jobs running at once may need together; absent or below
// 256, a quarter of the physical memory.
inline constexpr QLatin1String batchMemory{"quorvenda.advanced.batchMemory"};
// Seconds a work item may go without progress, once more for every 5 MB of its input; absent or
// below 1, 30. A worker that uses no processor time either is ended after 20 s at most.
inline constexpr QLatin1String workerPatience{"quorvenda.advanced.workerPatience"};
inline constexpr QLatin1String onboardingDone{"quorvenda.onboardingDone"};
inline constexpr QLatin1String outputFolder{"quorvenda.output.folder"};
inline constexpr QLatin1String fallbackFolder{"quorvenda.output.fallbackFolder"};
inline constexpr QLatin1String suffixes{"quorvenda.output.suffixes"};
inline constexpr QLatin1String convertHotkey{"quorvenda.finderHotkey"};
inline constexpr QLatin1String terminalApp{"quorvenda.actions.terminalApp"};
inline constexpr QLatin1String recentMoveDestinations{"quorvenda.actions.recentMoveDestinations"};
inline constexpr QLatin1String recentResults{"quorvenda.state.recentResults"};

} // namespace qv::SettingsKey
