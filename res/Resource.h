// Resource identifiers: string table entries, dialog templates, pictures and controls.
// Numbers are part of the program's interface (tests, layouts and artwork refer to them).
#pragma once

using UINT = unsigned int;

// ---- String table ------------------------------------------------------------
inline constexpr UINT IDS_NO_VALUE = 158;        // "-"
inline constexpr UINT IDS_BANNER_TOOLTIP = 159;  // "Quenby"
inline constexpr UINT IDS_OFFER_URL = 160;       // the offer page address
inline constexpr UINT IDS_SIZE_BYTES = 161;      // "%I64d B"
inline constexpr UINT IDS_SIZE_KB = 162;         // "%.2I64f KB"
inline constexpr UINT IDS_SIZE_MB = 163;         // "%.2I64f MB"
inline constexpr UINT IDS_SIZE_GB = 164;         // "%.2I64f GB"
inline constexpr UINT IDS_APP_TITLE = 165;       // "Quenby"
inline constexpr UINT IDS_GROUP_DOCUMENTS = 167; // "Documents"
inline constexpr UINT IDS_GROUP_IMAGES = 168;    // "Images"
inline constexpr UINT IDS_GROUP_MUSIC = 169;     // "Music"
inline constexpr UINT IDS_GROUP_VIDEO = 170;     // "Video"
inline constexpr UINT IDS_FILTER_DOCUMENTS = 171;
inline constexpr UINT IDS_FILTER_IMAGES = 172;
inline constexpr UINT IDS_FILTER_MUSIC = 173;
inline constexpr UINT IDS_FILTER_VIDEO = 174;
inline constexpr UINT IDS_COLUMN_PATH = 175;
inline constexpr UINT IDS_COLUMN_NAME = 176;
inline constexpr UINT IDS_COLUMN_TYPE = 177;
inline constexpr UINT IDS_COLUMN_SIZE = 178;
inline constexpr UINT IDS_COLUMN_DATE = 179;
inline constexpr UINT IDS_GET_DETAILS = 180; // "Get Details"
inline constexpr UINT IDS_START = 181;       // "&Start"
inline constexpr UINT IDS_PAUSE = 182;       // "&Pause"
inline constexpr UINT IDS_RESUME = 183;      // "&Resume"
// What a screen reader hears of the controls whose pictures say it to the eye; "%s" is
// filled in order with other entries (FormatString).
inline constexpr UINT IDS_A11Y_ROW_FILES = 184;  // "%s files": a row's count (row name)
inline constexpr UINT IDS_A11Y_ROW_SIZE = 185;   // "%s size": a row's size (row name)
inline constexpr UINT IDS_A11Y_TOTAL_ROW = 186;  // "Total": the name of the last row
inline constexpr UINT IDS_A11Y_PROGRESS = 187;   // "Scan progress"
inline constexpr UINT IDS_A11Y_EXTENSIONS = 188; // "%s extensions": a "?" (group name)
inline constexpr UINT IDS_A11Y_DETAILS = 189;    // "%s: %s": a details button (tip, group)
// Totals too large for their text in GB (sparse files make them): steps of 1024 on.
inline constexpr UINT IDS_SIZE_PB = 190; // "%.2I64f PB"
inline constexpr UINT IDS_SIZE_EB = 191; // "%.2I64f EB"
inline constexpr UINT IDS_SIZE_ZB = 192; // "%.2I64f ZB"
inline constexpr UINT IDS_SIZE_YB = 193; // "%.2I64f YB"
inline constexpr UINT IDS_SIZE_RB = 194; // "%.2I64f RB"
inline constexpr UINT IDS_SIZE_QB = 195; // "%.2I64f QB"
// A banner's description: "%s. %s", its picture's title and text.
inline constexpr UINT IDS_A11Y_BANNER = 196;
// The words the artwork draws into the windows' pictures. The windows give the same words
// to assistive technology, which cannot read a picture: one source keeps the two alike.
inline constexpr UINT IDS_PICTURE_MAIN_HEADING = 197;
inline constexpr UINT IDS_PICTURE_MAIN_INTRO = 198;
inline constexpr UINT IDS_PICTURE_MAIN_BANNER_TITLE = 199;
inline constexpr UINT IDS_PICTURE_MAIN_BANNER_TEXT = 200;
inline constexpr UINT IDS_PICTURE_FINISH_HEADING = 201;
// The finish window's two captions, drawn with a colon after them.
inline constexpr UINT IDS_PICTURE_FINISH_COUNT_CAPTION = 202;
inline constexpr UINT IDS_PICTURE_FINISH_SIZE_CAPTION = 203;
inline constexpr UINT IDS_PICTURE_FINISH_QUESTION = 204;
inline constexpr UINT IDS_PICTURE_FINISH_BODY = 205;
inline constexpr UINT IDS_PICTURE_FINISH_BANNER_TITLE = 206;
inline constexpr UINT IDS_PICTURE_FINISH_BANNER_TEXT = 207;
inline constexpr UINT IDS_PICTURE_PLATFORM_HEADING = 208;
inline constexpr UINT IDS_PICTURE_PLATFORM_TEXT = 209;
// The main window's tagline under the product's name, the caption over the groups, and
// the note under each group's name and the totals'.
inline constexpr UINT IDS_PICTURE_MAIN_TAGLINE = 210;
inline constexpr UINT IDS_PICTURE_MAIN_CAPTION = 211;
inline constexpr UINT IDS_PICTURE_MAIN_NOTE_DOCUMENTS = 212;
inline constexpr UINT IDS_PICTURE_MAIN_NOTE_IMAGES = 213;
inline constexpr UINT IDS_PICTURE_MAIN_NOTE_MUSIC = 214;
inline constexpr UINT IDS_PICTURE_MAIN_NOTE_VIDEO = 215;
inline constexpr UINT IDS_PICTURE_MAIN_NOTE_TOTAL = 216;

// ---- Scales of the pictures -------------------------------------------------------
// Every bitmap is also drawn at these scales, ascending, for screens with more than one
// device pixel per pixel: bitmaps/<id>@<scale>x.png beside the 1x bitmaps/<id>.png, the
// scale written as QString::number writes it ("1.5", "2").
inline constexpr double kBitmapScales[] = {1.5, 2.0};

// ---- Icons ---------------------------------------------------------------------
inline constexpr UINT IDR_MAINFRAME = 128;
// The details list's icon for a file type the icon theme has no picture for.
inline constexpr UINT IDI_DOCUMENT = 184;

// ---- Dialog templates ------------------------------------------------------------
inline constexpr UINT IDD_MAIN = 102;
inline constexpr UINT IDD_NOT_SUPPORTED = 167;
inline constexpr UINT IDD_FINISH = 168;
inline constexpr UINT IDD_DETAILS = 169;

// ---- Pictures (bitmaps) --------------------------------------------------------
inline constexpr UINT IDB_MAIN_BACKGROUND = 129; // 349 x 518

inline constexpr UINT IDB_START_HOVER = 135; // 86 x 28 button faces from here on
inline constexpr UINT IDB_START_DISABLED = 136;
inline constexpr UINT IDB_START = 137;
inline constexpr UINT IDB_START_PRESSED = 138;
inline constexpr UINT IDB_STOP_HOVER = 139;
inline constexpr UINT IDB_STOP_DISABLED = 140;
inline constexpr UINT IDB_STOP = 141;
inline constexpr UINT IDB_STOP_PRESSED = 142;
inline constexpr UINT IDB_CANCEL_HOVER = 143;
inline constexpr UINT IDB_CANCEL_DISABLED = 144;
inline constexpr UINT IDB_CANCEL = 145;
inline constexpr UINT IDB_CANCEL_PRESSED = 146;
inline constexpr UINT IDB_PAUSE_HOVER = 147;
inline constexpr UINT IDB_PAUSE_DISABLED = 148;
inline constexpr UINT IDB_PAUSE = 149;
inline constexpr UINT IDB_PAUSE_PRESSED = 150;

inline constexpr UINT IDB_BANNER_HOVER = 151; // 322 x 74
inline constexpr UINT IDB_BANNER = 152;
inline constexpr UINT IDB_BANNER_PRESSED = 153;

inline constexpr UINT IDB_DETAILS_HOVER = 154; // 26 x 35
inline constexpr UINT IDB_DETAILS_DISABLED = 155;
inline constexpr UINT IDB_DETAILS = 156;
inline constexpr UINT IDB_DETAILS_PRESSED = 157;

inline constexpr UINT IDB_PLATFORM_BACKGROUND = 162; // 359 x 200
inline constexpr UINT IDB_CONTINUE_HOVER = 163;      // 86 x 28, 32 bits per pixel
inline constexpr UINT IDB_CONTINUE_DISABLED = 164;
inline constexpr UINT IDB_CONTINUE = 165;
inline constexpr UINT IDB_CONTINUE_PRESSED = 166;

inline constexpr UINT IDB_FINISH_BACKGROUND = 168;   // 415 x 340
inline constexpr UINT IDB_FINISH_BANNER_HOVER = 169; // 317 x 70
inline constexpr UINT IDB_FINISH_BANNER = 171;
inline constexpr UINT IDB_FINISH_BANNER_PRESSED = 172;

inline constexpr UINT IDB_CLOSE_HOVER = 174;
inline constexpr UINT IDB_CLOSE_DISABLED = 175;
inline constexpr UINT IDB_CLOSE = 176;
inline constexpr UINT IDB_CLOSE_PRESSED = 177;
inline constexpr UINT IDB_RESUME_HOVER = 178;
inline constexpr UINT IDB_RESUME_DISABLED = 179;
inline constexpr UINT IDB_RESUME = 180;
inline constexpr UINT IDB_RESUME_PRESSED = 181;

inline constexpr UINT IDB_ARROW_DOWN = 182; // 9 x 5
inline constexpr UINT IDB_ARROW_UP = 183;

// ---- Controls --------------------------------------------------------------------
inline constexpr UINT IDOK = 1;
inline constexpr UINT IDCANCEL = 2;
inline constexpr UINT IDYES = 6; // Continue of the platform warning
inline constexpr UINT IDNO = 7;  // Cancel of the platform warning

inline constexpr UINT IDC_BANNER = 1001;
inline constexpr UINT IDC_DOCUMENTS_COUNT = 1002;
inline constexpr UINT IDC_DOCUMENTS_SIZE = 1003;
inline constexpr UINT IDC_IMAGES_COUNT = 1004;
inline constexpr UINT IDC_IMAGES_SIZE = 1005;
inline constexpr UINT IDC_MUSIC_COUNT = 1006;
inline constexpr UINT IDC_MUSIC_SIZE = 1007;
inline constexpr UINT IDC_VIDEO_COUNT = 1008;
inline constexpr UINT IDC_VIDEO_SIZE = 1009;
inline constexpr UINT IDC_TOTAL_COUNT = 1010;
inline constexpr UINT IDC_TOTAL_SIZE = 1011;
inline constexpr UINT IDC_PROGRESS = 1012;
inline constexpr UINT IDC_START_PAUSE = 1013;
inline constexpr UINT IDC_STOP = 1014;
inline constexpr UINT IDC_DETAILS_DOCUMENTS = 1015;
inline constexpr UINT IDC_DETAILS_IMAGES = 1016;
inline constexpr UINT IDC_DETAILS_MUSIC = 1017;
inline constexpr UINT IDC_DETAILS_VIDEO = 1018;
inline constexpr UINT IDC_LINK_DOCUMENTS = 1020;
inline constexpr UINT IDC_LINK_IMAGES = 1021;
inline constexpr UINT IDC_LINK_MUSIC = 1022;
inline constexpr UINT IDC_LINK_VIDEO = 1023;
inline constexpr UINT IDC_FILE_LIST = 1022; // in the details dialog
