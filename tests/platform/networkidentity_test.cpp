#include "testrunner.h"

#include "platform/networkidentity.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTest>

#include <map>

namespace {

QString readLine(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readLine()).trimmed() : QString();
}

} // namespace

class NetworkIdentityTest : public QObject
{
    Q_OBJECT

private slots:
    void adapterMatchesKernelList()
    {
        // The kernel's own view: interfaces by index, with type 772 for loopback.
        const QDir net(u"/sys/class/net"_qs);
        if (!net.exists())
            QSKIP("no /sys/class/net here");
        std::map<int, QByteArray> byIndex;
        for (const QString& name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString dir = net.filePath(name);
            if (readLine(dir + u"/type"_qs) == u"772")
                continue;
            const QByteArray address = QByteArray::fromHex(readLine(dir + u"/address"_qs).toLatin1());
            if (address.size() == 6 && address.count('\0') != 6)
                byIndex[readLine(dir + u"/ifindex"_qs).toInt()] = address;
        }
        const QByteArray expected = byIndex.empty() ? QByteArray() : byIndex.begin()->second;
        QCOMPARE(platform::AdapterHardwareAddress().toHex(), expected.toHex());
    }

    void hostAddressIsIPv4()
    {
        const QString text = platform::HostIPv4Address();
        if (text.isEmpty())
            QSKIP("the host name has no IPv4 address here");
        QHostAddress address;
        QVERIFY(address.setAddress(text));
        QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
        QCOMPARE(address.toString(), text);
    }
};

YFZS_TEST_CLASS(NetworkIdentityTest)
#include "networkidentity_test.moc"
