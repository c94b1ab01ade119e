// A stand-in for the system's disk service on a private bus: ResolveDevice finds the one
// block device it was given, and OpenDevice answers as the mode says, each call written
// to standard output as it comes.
//
//   udisks-stand-in MODE DEVICE
//
// MODE: grant (a read-only descriptor of DEVICE), refuse (the user dismissed the
// dialog), unauthorised (not allowed), old (a service without OpenDevice), slow (the
// dialog stays up for 20 s, then grants), wrong (a descriptor of another device).
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVirtualObject>
#include <QTimer>
#include <QVariantMap>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* kRoot = "/org/freedesktop/UDisks2";
constexpr const char* kBlockPath = "/org/freedesktop/UDisks2/block_devices/standin";

class CStandIn final : public QDBusVirtualObject {
public:
    CStandIn(QString strMode, QString strDevice)
        : m_strMode(std::move(strMode)), m_strDevice(std::move(strDevice)) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        std::printf("%s %s\n", qPrintable(message.path()), qPrintable(message.member()));
        std::fflush(stdout);
        if (message.member() == "ResolveDevice" &&
            message.interface() == "org.freedesktop.UDisks2.Manager") {
            const QVariantMap wanted = qdbus_cast<QVariantMap>(message.arguments().value(0));
            QList<QDBusObjectPath> arr;
            if (wanted.value("path").toString() == m_strDevice)
                arr.append(QDBusObjectPath(kBlockPath));
            connection.send(message.createReply(QVariant::fromValue(arr)));
            return true;
        }
        if (message.path() == kBlockPath && message.member() == "OpenDevice" &&
            message.interface() == "org.freedesktop.UDisks2.Block") {
            if (m_strMode == "old")
                return false; // the bus answers UnknownMethod
            if (message.arguments().value(0).toString() != "r") {
                connection.send(message.createErrorReply("org.freedesktop.UDisks2.Error.Failed",
                                                         "only reading is offered here"));
                return true;
            }
            if (m_strMode == "refuse") {
                connection.send(
                    message.createErrorReply("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed",
                                             "The authentication dialog was dismissed"));
                return true;
            }
            if (m_strMode == "unauthorised") {
                connection.send(message.createErrorReply(
                    "org.freedesktop.UDisks2.Error.NotAuthorized", "Not authorized to open"));
                return true;
            }
            const QDBusMessage reply = Granted(message);
            if (m_strMode == "slow") {
                message.setDelayedReply(true);
                QTimer::singleShot(20000, [connection, reply] { connection.send(reply); });
                return true;
            }
            connection.send(reply);
            return true;
        }
        return false;
    }

private:
    QDBusMessage Granted(const QDBusMessage& message) const {
        const QString strOpened = m_strMode == "wrong" ? QString("/dev/null") : m_strDevice;
        const int fd = ::open(qPrintable(strOpened), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return message.createErrorReply("org.freedesktop.UDisks2.Error.Failed",
                                            "cannot open " + m_strDevice);
        QDBusUnixFileDescriptor descriptor(fd);
        ::close(fd); // the descriptor keeps a duplicate
        return message.createReply(QVariant::fromValue(descriptor));
    }

    const QString m_strMode;
    const QString m_strDevice;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: udisks-stand-in MODE DEVICE\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::systemBus();
    CStandIn standIn(argv[1], argv[2]);
    if (!bus.registerVirtualObject(kRoot, &standIn, QDBusConnection::SubPath) ||
        !bus.registerService("org.freedesktop.UDisks2")) {
        std::fprintf(stderr, "udisks-stand-in: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
