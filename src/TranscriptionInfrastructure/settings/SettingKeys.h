#pragma once

// Every key the application keeps in its QSettings store, in one place. The strings are stored in the users'
// settings files: never change one, add a new key instead.
namespace tc::settingKeys {

// The organisation and application name the store is opened with outside a QCoreApplication's defaults.
inline constexpr const char* storeName = "transcription-corvane";

// Speech and language models.
// The speech model's name for the next run.
inline constexpr const char* speechModel = "speech/model";
// Two passes: the model finals are decoded with; empty or absent for one pass.
inline constexpr const char* finalSpeechModel = "speech/finalModel";
// The language model file the user chose; absent: the installed one.
inline constexpr const char* languageModelPath = "languageModel/path";

// Capture sources.
// The chosen devices' PulseAudio names; empty or absent: the default device.
inline constexpr const char* microphoneDevice = "devices/microphone";
inline constexpr const char* systemAudioDevice = "devices/systemAudio";
// The user's opt-ins to each source, and whether system audio was asked for.
inline constexpr const char* optInMicrophone = "optInMic";
inline constexpr const char* optInSystemAudio = "optInSystemAudio";
inline constexpr const char* systemAudioRequested = "systemAudioRequested";

// Consent per topic: "granted" or "denied"; absent: not asked yet.
inline constexpr const char* consentMicrophone = "consent/microphone";
inline constexpr const char* consentSpeechRecognition = "consent/speechRecognition";
inline constexpr const char* consentScreenRecording = "consent/screenRecording";
inline constexpr const char* consentCalendar = "consent/calendar";
inline constexpr const char* consentUnknown = "consent/unknown";

// The main window.
// The transcript's font size in points.
inline constexpr const char* transcriptFontSize = "transcriptFontSize";
inline constexpr const char* calendarSidebarVisible = "calendarSidebarVisible";

// The caption panel: whether it shows, where, and who spoke.
inline constexpr const char* captionVisible = "liveCaptionOverlayVisible";
inline constexpr const char* captionShowSpeaker = "caption/showSpeaker";
// "floating", "top" or "bottom".
inline constexpr const char* captionPlacement = "caption/placement";
// The screen's name; empty or gone: the primary one.
inline constexpr const char* captionScreen = "caption/screen";
inline constexpr const char* captionClickThrough = "caption/clickThrough";

// The caption panel's look.
// Points; absent: the size follows the panel's width.
inline constexpr const char* captionFontSize = "caption/fontSize";
inline constexpr const char* captionFontFamily = "caption/fontFamily";
// "#rrggbb"
inline constexpr const char* captionTextColor = "caption/textColor";
inline constexpr const char* captionBackgroundColor = "caption/backgroundColor";
// Whole percent, 0 to 100.
inline constexpr const char* captionBackgroundOpacity = "caption/backgroundOpacity";
// "none", "outline" or "shadow".
inline constexpr const char* captionOutline = "caption/outline";
// 1 to 5.
inline constexpr const char* captionLines = "caption/lines";
// Percent of the screen's width; absent: the standard width.
inline constexpr const char* captionWidthPercent = "caption/widthPercent";
// "left", "center" or "right".
inline constexpr const char* captionAlignment = "caption/alignment";
// The preset chosen last.
inline constexpr const char* captionPreset = "caption/preset";
inline constexpr const char* captionAutoHide = "caption/autoHide";
inline constexpr const char* captionAutoHideSeconds = "caption/autoHideSeconds";

// The updater, under the names the appcast updaters use.
inline constexpr const char* updateAutomaticChecks = "SUEnableAutomaticChecks";
inline constexpr const char* updateLastCheckTime = "SULastCheckTime";
inline constexpr const char* updateFeedURL = "SUFeedURL";

} // namespace tc::settingKeys
