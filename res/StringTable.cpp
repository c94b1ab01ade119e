#include "StringTable.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct Entry {
    UINT nId;
    std::string_view strText;
};

// Sorted by id. The size formats keep their stored form; the size text code maps
// them to the equivalent conversions of the C++ formatter.
constexpr std::array kTable{
    Entry{IDS_NO_VALUE, "-"},
    Entry{IDS_BANNER_TOOLTIP, "Quenby"},
    Entry{IDS_OFFER_URL, "https://www.quenby.app/backup-offer"},
    Entry{IDS_SIZE_BYTES, "%I64d B"},
    Entry{IDS_SIZE_KB, "%.2I64f KB"},
    Entry{IDS_SIZE_MB, "%.2I64f MB"},
    Entry{IDS_SIZE_GB, "%.2I64f GB"},
    Entry{IDS_APP_TITLE, "Quenby"},
    Entry{IDS_GROUP_DOCUMENTS, "Documents"},
    Entry{IDS_GROUP_IMAGES, "Images"},
    Entry{IDS_GROUP_MUSIC, "Music"},
    Entry{IDS_GROUP_VIDEO, "Video"},
    Entry{IDS_FILTER_DOCUMENTS, "*.doc; *.docx; *.xls; *.xlsx; *.ppt; *.pptx; *.pdf; *.odf; "
                                "*.rtf; *.pst; *.ost; *.qbb; *.qdb"},
    Entry{IDS_FILTER_IMAGES, "*.jpg; *.jpeg; *.png; *.bmp; *.gif; *.psd; *.tiff"},
    Entry{IDS_FILTER_MUSIC, "*.mp3; *.wav; *.wma; *.aac; *.mpa; *.m4a; *.aiff; *.aif; *.aifc"},
    Entry{IDS_FILTER_VIDEO, "*.avi; *.3gp; *.flv; *.mkv; *.mov; *.mp4; *.mpg; *.wmv; *.m4v"},
    Entry{IDS_COLUMN_PATH, "Path"},
    Entry{IDS_COLUMN_NAME, "Name"},
    Entry{IDS_COLUMN_TYPE, "Type"},
    Entry{IDS_COLUMN_SIZE, "Size"},
    Entry{IDS_COLUMN_DATE, "Date Modified"},
    Entry{IDS_GET_DETAILS, "Get Details"},
    Entry{IDS_START, "&Start"},
    Entry{IDS_PAUSE, "&Pause"},
    Entry{IDS_RESUME, "&Resume"},
    Entry{IDS_A11Y_ROW_FILES, "%s files"},
    Entry{IDS_A11Y_ROW_SIZE, "%s size"},
    Entry{IDS_A11Y_TOTAL_ROW, "Total"},
    Entry{IDS_A11Y_PROGRESS, "Scan progress"},
    Entry{IDS_A11Y_EXTENSIONS, "%s extensions"},
    Entry{IDS_A11Y_DETAILS, "%s: %s"},
    Entry{IDS_SIZE_PB, "%.2I64f PB"},
    Entry{IDS_SIZE_EB, "%.2I64f EB"},
    Entry{IDS_SIZE_ZB, "%.2I64f ZB"},
    Entry{IDS_SIZE_YB, "%.2I64f YB"},
    Entry{IDS_SIZE_RB, "%.2I64f RB"},
    Entry{IDS_SIZE_QB, "%.2I64f QB"},
    Entry{IDS_A11Y_BANNER, "%s. %s"},
    Entry{IDS_PICTURE_MAIN_HEADING, "Count what a backup would save"},
    Entry{IDS_PICTURE_MAIN_INTRO, "Press Start to count the documents, pictures, music and "
                                  "videos on every fixed drive of this computer."},
    Entry{IDS_PICTURE_MAIN_BANNER_TITLE, "Keep your files safe"},
    Entry{IDS_PICTURE_MAIN_BANNER_TEXT, "Back them up online with Quenby"},
    Entry{IDS_PICTURE_FINISH_HEADING, "Is all of this backed up?"},
    Entry{IDS_PICTURE_FINISH_COUNT_CAPTION, "Files found"},
    Entry{IDS_PICTURE_FINISH_SIZE_CAPTION, "Total size"},
    Entry{IDS_PICTURE_FINISH_QUESTION, "What would you do if all of it were lost?"},
    Entry{IDS_PICTURE_FINISH_BODY, "One failed disk can take years of photos and work with it."},
    Entry{IDS_PICTURE_FINISH_BANNER_TITLE, "Start backing up now"},
    Entry{IDS_PICTURE_FINISH_BANNER_TEXT, "Protect your files with Quenby online backup"},
    Entry{IDS_PICTURE_PLATFORM_HEADING, "Warning!"},
    Entry{IDS_PICTURE_PLATFORM_TEXT,
          "This application is not officially supported on this platform. If you proceed, "
          "there may be issues that prevent it from working properly in all cases."},
    Entry{IDS_PICTURE_MAIN_TAGLINE, "How much of your data is at risk?"},
    Entry{IDS_PICTURE_MAIN_CAPTION, "FOUND ON THIS COMPUTER"},
    Entry{IDS_PICTURE_MAIN_NOTE_DOCUMENTS, "Office files and PDFs"},
    Entry{IDS_PICTURE_MAIN_NOTE_IMAGES, "Photos and pictures"},
    Entry{IDS_PICTURE_MAIN_NOTE_MUSIC, "Songs and recordings"},
    Entry{IDS_PICTURE_MAIN_NOTE_VIDEO, "Films and clips"},
    Entry{IDS_PICTURE_MAIN_NOTE_TOTAL, "All four groups"},
};

// Each id once, in order, and no entry without its text.
static_assert(std::adjacent_find(kTable.begin(), kTable.end(), [](const Entry& a, const Entry& b) {
                  return a.nId >= b.nId;
              }) == kTable.end());
static_assert(std::none_of(kTable.begin(), kTable.end(),
                           [](const Entry& e) { return e.strText.empty(); }));

} // namespace

std::string FormatString(UINT nId, std::initializer_list<std::string_view> arrTexts) {
    const std::string strFormat = LoadString(nId);
    std::string str;
    auto itText = arrTexts.begin();
    for (std::size_t i = 0; i < strFormat.size(); ++i) {
        if (strFormat.compare(i, 2, "%s") == 0 && itText != arrTexts.end()) {
            str += *itText++;
            ++i;
        } else {
            str += strFormat[i];
        }
    }
    return str;
}

std::string LoadString(UINT nId) {
    auto it = std::lower_bound(kTable.begin(), kTable.end(), nId,
                               [](const Entry& e, UINT id) { return e.nId < id; });
    if (it == kTable.end() || it->nId != nId)
        return {};
    return std::string(it->strText);
}
