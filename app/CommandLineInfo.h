// The windowed program's command line. Qt's own options (-platform, -display...) are
// taken out by the application object before this sees the arguments.
#pragma once

// What the arguments after the program's name ask for; this base records nothing.
class CCommandLineInfo {
public:
    virtual ~CCommandLineInfo();
    // One argument: pszParam without its one leading '-' or '/', bFlag TRUE when it
    // had one, bLast TRUE for the last argument.
    virtual void ParseParam(const char* pszParam, bool bFlag, bool bLast);
};

// Hands every argument after argv[0] to ParseParam, in order.
void ParseCommandLine(int argc, const char* const* argv, CCommandLineInfo& rCmdInfo);

class CScannerCommandLineInfo : public CCommandLineInfo {
public:
    ~CScannerCommandLineInfo() override;
    // /debug or -debug in any letter case switches the diagnostic log on; nothing else
    // has any effect.
    void ParseParam(const char* pszParam, bool bFlag, bool bLast) override;

    bool m_bDebug = false;
};
