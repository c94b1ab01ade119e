#include "ScanOptions.h"

#include "EnumMgr.h"
#include "Environment.h"
#include "GroupTable.h"
#include "Log.h"
#include "ModulePath.h"
#include "Path.h"
#include "StringTable.h"

#include <boost/program_options.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <limits.h>
#include <sstream>

#include <sys/stat.h>

namespace {

// What an option's value does to the options; an error text when the value is no use.
using ApplyValue = std::optional<std::string> (*)(Options&, const std::string&);

// One of three: a switch sets its flag, an answer (--help) asks for it, a value is
// applied.
struct OptionEntry {
    const char* pszName;            // without the leading "--"
    const char* pszValue = nullptr; // the value's name in --help (" FOLDER", "=N")
    const char* pszHelp = "";       // "{folder}" and "{log}": the log's folder and file
    bool Options::*pSwitch = nullptr;
    Options::Action action = Options::Action::scan;
    ApplyValue apply = nullptr;
    char chShort = 0;
};

// Absolute and normal (Path.h): the scan compares paths byte for byte, and a folder to
// leave out need not exist.
std::optional<std::string> AddExclude(Options& o, const std::string& strFolder) {
    if (strFolder.empty()) {
        o.arrExclude.emplace_back();
        return std::nullopt; // said once all options are read
    }
    std::string s = NormalFolder(strFolder);
    if (s.empty())
        return strFolder + ": " + std::strerror(errno);
    o.arrExclude.push_back(std::move(s));
    return std::nullopt;
}

// --metrics FILE as its folder and name; the folder is checked when it is opened.
std::optional<std::string> SetMetricsFile(Options& o, const std::string& strFile) {
    const std::size_t n = strFile.rfind('/');
    o.strMetricsName = n == std::string::npos ? strFile : strFile.substr(n + 1);
    o.strMetricsFolder = n == std::string::npos ? "." : n == 0 ? "/" : strFile.substr(0, n);
    if (o.strMetricsName.empty() || o.strMetricsName == "." || o.strMetricsName == "..")
        return "--metrics needs a file name: '" + strFile + "'";
    return std::nullopt;
}

std::optional<std::string> AddBackedUp(Options& o, const std::string& strFile) {
    o.arrBackedUp.push_back(strFile);
    return std::nullopt;
}

std::optional<std::string> SetReadAhead(Options& o, const std::string& strValue) {
    if (strValue.empty() || strValue.size() > 3 ||
        strValue.find_first_not_of("0123456789") != std::string::npos)
        return "--read-ahead needs a number of threads from 0 to 999";
    o.nReadAhead = std::stoi(strValue);
    return std::nullopt;
}

// In the order --help gives them. A value's name after '=' in --help says the value
// must follow the option in the same word (--read-ahead=N).
const OptionEntry kOptions[] = {
    {.pszName = "json",
     .pszHelp = "print one JSON object instead of the table",
     .pSwitch = &Options::bJson},
    {.pszName = "files",
     .pszHelp = "with --json: list every file found (group, size, local time of\n"
                "the last write, path); bytes of a path that are not UTF-8 are\n"
                "written as \\udcXX escapes",
     .pSwitch = &Options::bFiles},
    {.pszName = "lists",
     .pszHelp = "write the per-group list files, as the window does at the end\n"
                "of a scan, into {folder} (Documents.log and so on,\n"
                "one path per line); the folder is created private when it is\n"
                "missing, and a list that cannot be written is an error",
     .pSwitch = &Options::bLists},
    {.pszName = "exclude",
     .pszValue = " FOLDER",
     .pszHelp = "leave this folder and everything below it out, as the folders\n"
                "below are; may be given again. Compared byte for byte with the\n"
                "paths of the scan (a relative one is taken from the working\n"
                "folder); a folder that does not exist is no error",
     .apply = &AddExclude},
    {.pszName = "backed-up",
     .pszValue = " FILE",
     .pszHelp = "also count what a backup does not hold: FILE is the backup tool's\n"
                "listing of one snapshot, from restic ls --json SNAPSHOT (restic\n"
                "0.14 or newer) or borg list --json-lines ARCHIVE (borg 1.2 or\n"
                "newer); - reads standard input; may be given again. A file is\n"
                "held when a listing has a regular file at its path, of its size\n"
                "and written no earlier (to the second, fractions dropped)",
     .apply = &AddBackedUp},
    {.pszName = "metrics",
     .pszValue = " FILE",
     .pszHelp = "also write the figures to FILE in the Prometheus text format,\n"
                "for node_exporter's textfile collector (FILE ending in .prom in\n"
                "its folder); written whole, through a new file renamed over it,\n"
                "where FILE is missing or a plain file of yours (else an error)",
     .apply = &SetMetricsFile},
    {.pszName = "debug",
     .pszHelp = "write the diagnostic log to {log}",
     .pSwitch = &Options::bDebug},
    {.pszName = "read-ahead",
     .pszValue = "=N",
     .pszHelp = "N threads read folders ahead of each walk once it waits for\n"
                "the disk (0: none); by default two per processor, 4 to 8, on a\n"
                "disk without seeks, 4 on a rotational one",
     .apply = &SetReadAhead},
    {.pszName = "help",
     .pszHelp = "show this help and exit",
     .action = Options::Action::help,
     .chShort = 'h'},
    {.pszName = "version",
     .pszHelp = "show the version and exit",
     .action = Options::Action::version},
};

const OptionEntry* FindOption(const std::string& strName) {
    const auto it = std::ranges::find_if(
        kOptions, [&](const OptionEntry& option) { return strName == option.pszName; });
    return it == std::end(kOptions) ? nullptr : &*it;
}

// An option's lines in --help: its description from the 15th column on, beside the
// option where that leaves two spaces, otherwise on the lines below it.
void WriteOptionHelp(std::ostream& o, const OptionEntry& option, const std::string& strFolder,
                     const std::string& strLog) {
    constexpr std::size_t kTextColumn = 14;
    std::string strHelp = option.pszHelp;
    const auto replace = [&strHelp](std::string_view strKey, const std::string& strValue) {
        if (const std::size_t n = strHelp.find(strKey); n != std::string::npos)
            strHelp.replace(n, strKey.size(), strValue);
    };
    replace("{folder}", strFolder);
    replace("{log}", strLog);
    const std::string strLabel =
        std::string("  --") + option.pszName + (option.pszValue ? option.pszValue : "");
    o << strLabel;
    if (strLabel.size() + 2 <= kTextColumn)
        o << std::string(kTextColumn - strLabel.size(), ' ');
    else if (option.pszValue && option.pszValue[0] == '=')
        o << "  ";
    else
        o << "\n" << std::string(kTextColumn, ' ');
    std::istringstream lines(strHelp);
    std::string strLine;
    for (bool bFirst = true; std::getline(lines, strLine); bFirst = false)
        o << (bFirst ? "" : std::string(kTextColumn, ' ')) << strLine << "\n";
}

std::string Join(const std::vector<std::string>& arr) {
    std::string s;
    for (const std::string& str : arr)
        s += (s.empty() ? "" : ", ") + str;
    return s;
}

// "*.doc; *.docx" as ".doc .docx".
std::string Extensions(const std::string& strFilter) {
    std::string s;
    std::istringstream in(strFilter);
    std::string strToken;
    while (std::getline(in, strToken, ';')) {
        const std::size_t n = strToken.find('*');
        if (n != std::string::npos)
            s += (s.empty() ? "" : " ") + strToken.substr(n + 1);
    }
    return s;
}

} // namespace

std::string Usage() {
    const std::string strFolder = GetLogFolder();
    std::ostringstream o;
    o << "Usage: tarrow-scan [OPTION]... [FOLDER]...\n"
         "Counts the documents, images, music and video files that would be lost\n"
         "without a backup, on every fixed drive or in the folders given.\n"
         "\n";
    for (const OptionEntry& option : kOptions)
        WriteOptionHelp(o, option, strFolder, strFolder + GetModuleFileName() + ".log");
    o << "\n"
         "Files are sorted into groups by their extension, in any letter case:\n";
    for (int i = 0; i < kGroupCount; ++i) {
        std::string strName = LoadString(g_groupTable[i].nNameId);
        strName.resize(std::max<std::size_t>(strName.size(), 11), ' ');
        o << "  " << strName << Extensions(LoadString(g_groupTable[i].nFilterId)) << "\n";
    }
    const KnownFolderSet known = SystemKnownFolders()->Get();
    std::vector<std::string> arrSystem = known.arrSystem;
    arrSystem.insert(arrSystem.end(), known.arrPrograms.begin(), known.arrPrograms.end());
    arrSystem.insert(arrSystem.end(), known.arrProgramData.begin(), known.arrProgramData.end());
    std::vector<std::string> arrCaches = known.arrInternetCache;
    arrCaches.insert(arrCaches.end(), known.arrTemporary.begin(), known.arrTemporary.end());
    o << "Sizes are apparent sizes: the length of each file (as ls -l shows it), not the\n"
         "space it takes on the disk. A file with several names (hard links) is counted\n"
         "once, under the first name met. Symbolic links are not followed.\n"
         "Byte sums never wrap: --json gives each exactly, as a whole number of up to 39\n"
         "digits (sparse files can sum to more than 16 EiB, the most 64 bits hold), and the\n"
         "table goes on past GB in PB, EB, ZB, YB, RB and QB from 1 PiB on.\n"
         "\n"
         "Left out of every scan:\n"
         "  system and programs: "
      << Join(arrSystem)
      << "\n"
         "  caches and temporary files: "
      << Join(arrCaches)
      << "\n"
         "  the trash of every user: .Trash and .Trash-* at each drive's root, and\n"
         "  .local/share/Trash in every home (yours: "
      << known.strUserTrash
      << ")\n"
         "  other file systems mounted inside a drive (each fixed drive is scanned on its own)\n"
         "A folder named on the command line is scanned even when it is one of these: it was\n"
         "asked for. What lies below it and is left out stays left out.\n"
         "\n"
         "NTFS, ext2, ext3 and ext4 drives are read through their own tables (much\n"
         "faster than walking their folders, and the same files) where this program may\n"
         "read the drive's device, and for ext2/3/4 every folder: run it as root, or\n"
         "start the systemd unit installed with it, which runs it as root:\n"
         "  systemctl start tarrow-scan.service\n"
         "It never asks for that access itself (nobody may be there to answer); without\n"
         "it the drives are walked.\n"
         "\n"
         "Folders that cannot be read are counted, and the count said on standard error\n"
         "(--debug lists them in the log); a folder named that cannot be read is an error.\n"
         "Ctrl-C stops the scan and prints what was found until then (exit status 130);\n"
         "a second Ctrl-C ends the program at once. Exit status 0: the scan ran to its end\n"
         "and everything asked for was written; 1: a folder named could not be read or\n"
         "scanned, or the report, a list, the metrics or the diagnostic log could not be\n"
         "written; 2: wrong usage, or a backup listing that cannot be used (nothing is then\n"
         "scanned); 130: stopped.\n";
    return o.str();
}

// Boost.Program_options, made from the table. Its errors name the option concerned,
// which keeps our messages; the style below keeps the spellings of the table (no
// abbreviations, no bundled short options, no "-json").
std::variant<Options, UsageError> ParseOptions(int argc, char** argv) {
    namespace po = boost::program_options;
    namespace style = po::command_line_style;
    po::options_description desc;
    for (const OptionEntry& option : kOptions) {
        const std::string strName =
            std::string(option.pszName) + (option.chShort ? std::string(",") + option.chShort : "");
        if (option.pszValue)
            desc.add_options()(strName.c_str(), po::value<std::string>());
        else
            desc.add_options()(strName.c_str(), "");
    }
    desc.add_options()("folder", po::value<std::string>());
    po::positional_options_description positional;
    positional.add("folder", -1);

    po::parsed_options parsed(&desc);
    try {
        parsed =
            po::command_line_parser(argc, argv)
                .options(desc)
                .positional(positional)
                .style(style::allow_long | style::long_allow_adjacent | style::long_allow_next |
                       style::allow_short | style::allow_dash_for_short | style::short_allow_next)
                .run();
    } catch (const po::unknown_option& e) {
        return UsageError{"unknown option '" + e.get_option_name() + "'"};
    } catch (const po::error& e) {
        return UsageError{e.what()};
    }

    Options o;
    for (const po::option& opt : parsed.options) {
        const std::string strValue = opt.value.empty() ? std::string() : opt.value.front();
        if (opt.string_key == "folder") {
            if (opt.position_key < 0) // the name given as an option
                return UsageError{"unknown option '" + opt.original_tokens.front() + "'"};
            o.arrFolders.push_back(strValue);
        } else if (const OptionEntry* pOption = FindOption(opt.string_key)) {
            if (pOption->pSwitch)
                o.*pOption->pSwitch = true;
            else if (pOption->apply) {
                if (std::optional<std::string> strError = pOption->apply(o, strValue))
                    return UsageError{std::move(*strError)};
            } else
                o.action = pOption->action;
        }
        // --help and --version answer at once, whatever follows them.
        if (o.action != Options::Action::scan)
            return o;
    }
    if (std::ranges::find(o.arrExclude, std::string()) != o.arrExclude.end())
        return UsageError{"--exclude needs a folder"};
    if (o.bFiles && !o.bJson)
        return UsageError{"--files needs --json"};
    if (std::ranges::find(o.arrBackedUp, std::string()) != o.arrBackedUp.end())
        return UsageError{"--backed-up needs a file"};
    if (std::ranges::count(o.arrBackedUp, std::string("-")) > 1)
        return UsageError{"--backed-up can read standard input once"};
    for (std::string& strFolder : o.arrFolders) {
        struct stat st;
        if (::stat(strFolder.c_str(), &st) != 0)
            return UsageError{strFolder + ": " + std::strerror(errno)};
        if (!S_ISDIR(st.st_mode))
            return UsageError{strFolder + ": not a folder"};
        char resolved[PATH_MAX];
        if (!::realpath(strFolder.c_str(), resolved))
            return UsageError{strFolder + ": " + std::strerror(errno)};
        strFolder = resolved;
    }
    return o;
}
