// Texts the artwork draws into the windows' pictures. The windows give the same words to
// assistive technology, which cannot read a picture: one source keeps the two alike.
#pragma once

// Main window, above the banner.
inline constexpr const char* kMainHeading = "Count what a backup would save";
inline constexpr const char* kMainIntro = "Press Start to count the documents, pictures, music "
                                          "and videos on every fixed drive of this computer.";
// The main window's banner.
inline constexpr const char* kMainBannerTitle = "Keep your files safe";
inline constexpr const char* kMainBannerText = "Back them up online with Quenby";

// Finish window; the two captions are drawn with a colon after them.
inline constexpr const char* kFinishHeading = "Is all of this backed up?";
inline constexpr const char* kFinishCountCaption = "Files found";
inline constexpr const char* kFinishSizeCaption = "Total size";
inline constexpr const char* kFinishQuestion = "What would you do if all of it were lost?";
inline constexpr const char* kFinishBody =
    "One failed disk can take years of photos and work with it.";
// The finish window's banner.
inline constexpr const char* kFinishBannerTitle = "Start backing up now";
inline constexpr const char* kFinishBannerText = "Protect your files with Quenby online backup";

// Unsupported-platform warning.
inline constexpr const char* kPlatformHeading = "Warning!";
inline constexpr const char* kPlatformText =
    "This application is not officially supported on this platform. If you proceed, there "
    "may be issues that prevent it from working properly in all cases.";
