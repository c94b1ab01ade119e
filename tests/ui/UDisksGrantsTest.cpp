// The window reads a drive it may not open itself through the descriptor the disk
// service hands over, here a stand-in on a private bus standing as the system's, with a
// real ext4 volume on a loop device; where the service refuses, the drive is walked.
#include "MainDlg.h"

#include "FinishDlg.h"
#include "ForwardingVolumes.h"
#include "ImageSupport.h"
#include "Log.h"
#include "Resource.h"
#include "ScanControl.h"
#include "ScanTestSupport.h"
#include "UDisksGrants.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fstream>
#include <mutex>
#include <optional>

using namespace std::chrono_literals;

namespace {

// The drive as a user sees it who may neither open its device nor read every folder.
class CUnopenableVolumes final : public CForwardingVolumes {
public:
    using CForwardingVolumes::CForwardingVolumes;
    bool CanReadVolume(const std::string&) const override { return false; }
};

// A process of the test, ended with the test.
class CChild {
public:
    ~CChild() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Starts it and waits for the first line it writes.
    std::string Start(const QString& strProgram, const QStringList& arrArgs) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(strProgram, arrArgs);
        if (!m_process.waitForStarted(5000))
            return {};
        return NextLine(5000);
    }
    std::string NextLine(int nMilliseconds) {
        QDeadlineTimer deadline(nMilliseconds);
        while (!m_process.canReadLine()) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return {};
            m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
        return m_process.readLine().trimmed().toStdString();
    }
    // Every line written so far.
    std::vector<std::string> Lines() {
        m_process.waitForReadyRead(50);
        std::vector<std::string> arr;
        while (m_process.canReadLine())
            arr.push_back(m_process.readLine().trimmed().toStdString());
        return arr;
    }

private:
    QProcess m_process;
};

int Count(const std::vector<std::string>& arr, const std::string& strSuffix) {
    int n = 0;
    for (const std::string& s : arr)
        n += s.ends_with(strSuffix);
    return n;
}

class UDisksGrantsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetScanIdle();
        TakePendingLogRecords();
        const std::string strWhy =
            WhyNoTools({"mkfs.ext4", "mount", "umount", "losetup", "findmnt", "dbus-daemon"});
        if (!strWhy.empty())
            GTEST_SKIP() << "disk service tests skipped: " << strWhy;
        // No list files of the machine's.
        if (const char* psz = std::getenv("TEMP"))
            strOldTemp = psz;
        ::setenv("TEMP", tree.Root().c_str(), 1);

        const std::string strImage = tree.Path("volume.img");
        strMount = tree.Folder("drive");
        ASSERT_EQ(RunProgram({"truncate", "-s", "16M", strImage}), 0);
        ASSERT_EQ(RunProgram({"mkfs.ext4", "-q", strImage}), 0);
        std::string strOut;
        if (RunProgram({"mount", "-o", "loop", strImage, strMount}, &strOut) != 0)
            GTEST_SKIP() << "disk service tests skipped: cannot mount a loop device: " << strOut;
        bMounted = true;
        ASSERT_EQ(RunProgram({"findmnt", "-no", "SOURCE", strMount}, &strDevice), 0);
        strDevice = strDevice.substr(0, strDevice.find('\n'));
        Fill();

        // A private bus standing as the system's: anyone may own a name and call.
        const std::string strBus = "unix:path=" + tree.Path("system_bus_socket");
        const std::string strConfig = tree.Path("system-bus.conf");
        std::ofstream(strConfig) << "<!DOCTYPE busconfig PUBLIC "
                                    "\"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                    " \"http://www.freedesktop.org/standards/dbus/1.0/"
                                    "busconfig.dtd\">\n"
                                    "<busconfig><type>system</type><listen>"
                                 << strBus
                                 << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                    "<allow user=\"*\"/><allow own=\"*\"/>"
                                    "<allow send_destination=\"*\"/>"
                                    "<allow receive_sender=\"*\"/></policy></busconfig>\n";
        ASSERT_NE(bus.Start("dbus-daemon", {"--config-file=" + QString::fromStdString(strConfig),
                                            "--nofork", "--print-address=1"}),
                  "");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", strBus.c_str(), 1);
    }
    void TearDown() override {
        pDlg.reset();
        if (bMounted)
            RunProgram({"umount", strMount});
        if (!strLoop.empty())
            RunProgram({"losetup", "-d", strLoop});
        if (strOldTemp)
            ::setenv("TEMP", strOldTemp->c_str(), 1);
        else
            ::unsetenv("TEMP");
        SetScanIdle();
    }

    void Fill() {
        WriteFile(strMount + "/letter.doc", 10);
        WriteFile(strMount + "/notes.txt", 20);
        ASSERT_EQ(::mkdir((strMount + "/Pictures").c_str(), 0755), 0);
        WriteFile(strMount + "/Pictures/cat.jpg", 300);
        WriteFile(strMount + "/song.mp3", 4000);
    }

    // The drive is NTFS instead, with the same files, mounted with ntfs-3g from a loop
    // device of its own: false when that cannot be had here.
    bool MountNtfs() {
        if (RunProgram({"umount", strMount}) != 0)
            return false;
        bMounted = false;
        if (!WhyNoTools({"mkntfs", "ntfs-3g"}).empty())
            return false;
        const std::string strImage = tree.Path("ntfs.img");
        if (RunProgram({"truncate", "-s", "16M", strImage}) != 0 ||
            RunProgram({"losetup", "-f", "--show", strImage}, &strLoop) != 0)
            return false;
        strLoop = strLoop.substr(0, strLoop.find('\n'));
        if (RunProgram({"mkntfs", "-F", "-q", "-f", strLoop}) != 0 ||
            RunProgram({"ntfs-3g", strLoop, strMount}) != 0)
            return false;
        bMounted = true;
        strDevice = strLoop;
        Fill();
        return true;
    }

    void StartService(const char* pszMode) {
        ASSERT_EQ(
            service.Start(TARROW_UDISKS_STAND_IN, {pszMode, QString::fromStdString(strDevice)}),
            "ready");
    }

    // The window of a program just started, scanning the drive.
    CMainDlg& Open() {
        auto pSetup = std::make_shared<ScanSetup>(FolderScanSetup({strMount}));
        pSetup->volumeTable = [fn = pSetup->volumeTable] {
            return std::shared_ptr<const IVolumeTable>(std::make_shared<CUnopenableVolumes>(fn()));
        };
        pSetup->mayReadEveryFolder = [] { return false; };
        pSetup->grantVolume = GrantVolumeThrough(std::make_shared<CUDisksGrants>());
        pSetup->onDriveEnumerator = [this](const std::string&, const char* psz) {
            std::lock_guard lock(m_cs);
            strEnumerator = psz;
        };
        pDlg = std::make_unique<CMainDlg>(pSetup);
        pDlg->show();
        return *pDlg;
    }
    QAbstractButton& Button(UINT nId) {
        return *dynamic_cast<QAbstractButton*>(pDlg->GetDlgItem(nId));
    }
    std::string Enumerator() {
        std::lock_guard lock(m_cs);
        return strEnumerator;
    }
    bool Finished() { return IsEnumFinished() && !Button(IDC_STOP).isEnabled(); }

    // Start pressed, the scan to its end, its finish window closed; the longest the
    // interface thread went without handling its events meanwhile.
    std::chrono::milliseconds Scan(const std::function<void()>& fnWhileRunning = {}) {
        QElapsedTimer since;
        qint64 nLongest = 0;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            nLongest = std::max(nLongest, since.restart());
            if (auto* p = dynamic_cast<CFinishDlg*>(QApplication::activeModalWidget()))
                p->reject();
        });
        since.start();
        ticks.start(5);
        Button(IDC_START_PAUSE).click();
        EXPECT_TRUE(Button(IDC_STOP).isEnabled());
        if (fnWhileRunning)
            fnWhileRunning();
        EXPECT_TRUE(QTest::qWaitFor([this] { return Finished(); }, 15000));
        return std::chrono::milliseconds(nLongest);
    }

    std::array<std::int64_t, 4> Counts() {
        return {pDlg->GetGroupFiles(0), pDlg->GetGroupFiles(1), pDlg->GetGroupFiles(2),
                pDlg->GetGroupFiles(3)};
    }

    // The worker's statement of the answer.
    std::string Answer() {
        for (const PendingLogRecord& r : TakePendingLogRecords()) {
            if (r.strMessage.find("Read access to the volume is ") != std::string::npos &&
                r.strMessage.find("asked for") == std::string::npos)
                return r.strMessage.substr(r.strMessage.find("Read access"));
        }
        return {};
    }

    CTempTree tree;
    std::string strMount, strDevice, strLoop;
    bool bMounted = false;
    std::optional<std::string> strOldTemp;
    CChild bus, service;
    std::unique_ptr<CMainDlg> pDlg;
    std::mutex m_cs;
    std::string strEnumerator;
};

// letter.doc; cat.jpg; song.mp3 (notes.txt is in no group)
const std::array<std::int64_t, 4> kFound = {1, 1, 1, 0};

// The longest the interface thread may go without its events here: room for a sanitized
// build on a busy machine, yet far below the 20 s that waiting for the answer would take.
constexpr std::chrono::milliseconds kResponsive = 1s;

// A grant is read through the table; a refusal of any kind is walked, finds the same, and
// is not asked again by this program. Each Start asks anew where the service granted.
TEST_F(UDisksGrantsTest, GrantedDrivesAreReadThroughTheirTableTheOthersWalked) {
    struct Case {
        const char* pszMode;
        const char* pszEnumerator;
        const char* pszAnswer;
        int nSecondAsks; // OpenDevice calls of a second Start
    };
    const Case cases[] = {
        {"grant", "ext4", "Read access to the volume is granted", 1},
        {"refuse", "walk",
         "Read access to the volume is not granted: "
         "org.freedesktop.UDisks2.Error.NotAuthorizedDismissed: The authentication dialog was "
         "dismissed",
         0},
        {"unauthorised", "walk",
         "Read access to the volume is not granted: org.freedesktop.UDisks2.Error.NotAuthorized: "
         "Not authorized to open",
         0},
        {"old", "walk", "Read access to the volume is not granted: org.freedesktop.DBus.Error.", 0},
        // Whatever is handed over, only the drive's own device is read.
        {"wrong", "walk",
         "Read access to the volume is not granted: the descriptor handed over is not of /dev/", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszMode);
        CChild service;
        ASSERT_EQ(
            service.Start(TARROW_UDISKS_STAND_IN, {c.pszMode, QString::fromStdString(strDevice)}),
            "ready");
        Open();
        TakePendingLogRecords();
        EXPECT_LT(Scan(), kResponsive);
        EXPECT_EQ(Enumerator(), c.pszEnumerator);
        EXPECT_EQ(Counts(), kFound);
        EXPECT_TRUE(Answer().starts_with(c.pszAnswer));
        EXPECT_EQ(Count(service.Lines(), " OpenDevice"), 1);

        Scan();
        EXPECT_EQ(Enumerator(), c.pszEnumerator);
        EXPECT_EQ(Counts(), kFound);
        EXPECT_EQ(Count(service.Lines(), " OpenDevice"), c.nSecondAsks);
        pDlg.reset();
    }
}

// An NTFS drive alike, read through its file records.
TEST_F(UDisksGrantsTest, AGrantedNtfsDriveIsReadThroughItsFileRecords) {
    if (!MountNtfs())
        GTEST_SKIP() << "NTFS part skipped: mkntfs, ntfs-3g or a loop device is missing";
    for (const auto& [pszMode, pszEnumerator] : {std::pair{"grant", "mft"}, {"refuse", "walk"}}) {
        SCOPED_TRACE(pszMode);
        CChild service;
        ASSERT_EQ(
            service.Start(TARROW_UDISKS_STAND_IN, {pszMode, QString::fromStdString(strDevice)}),
            "ready");
        Open();
        Scan();
        EXPECT_EQ(Enumerator(), pszEnumerator);
        EXPECT_EQ(Counts(), kFound);
        pDlg.reset();
    }
}

// While the dialog is up the window stays responsive, and Stop ends the scan's wait at
// once.
TEST_F(UDisksGrantsTest, StopEndsTheWaitForASlowAnswer) {
    StartService("slow");
    Open();
    const auto tLongest = Scan([&] {
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Count(service.Lines(), " OpenDevice") == 1; }, 5000));
        QTest::qWait(200);
        Button(IDC_STOP).click();
        EXPECT_TRUE(QTest::qWaitFor([this] { return Finished(); }, 3000));
    });
    EXPECT_LT(tLongest, kResponsive);
    EXPECT_EQ(Enumerator(), "walk");
    EXPECT_EQ(Answer(), "Read access to the volume is not granted: the scan was stopped");
}

// Close ends the wait as well: the window closes without waiting for the dialog.
TEST_F(UDisksGrantsTest, CloseEndsTheWaitForASlowAnswer) {
    StartService("slow");
    Open();
    Button(IDC_START_PAUSE).click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Count(service.Lines(), " OpenDevice") == 1; }, 5000));
    Button(IDCANCEL).click();
    EXPECT_TRUE(QTest::qWaitFor([this] { return !pDlg->isVisible(); }, 3000));
}

} // namespace
