#pragma once
// What the update-check and login tests share: a clean program directory (the test program's
// own folder, where config.ini and update.ini live), a scratch working directory, short
// time-outs, replies laid out like requests, and a client talking to a fake host.

#include "fakeservicehost.h"
#include "recordingui.h"
#include "service/serviceclient.h"
#include "testenv.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace fixture {

// Removes config.ini and update.ini from the program directory, enters a fresh working
// directory and shortens the time-outs to a few seconds.
void Reset(QTemporaryDir& workDir);
// For the tests of a host that never answers: the reply wait becomes 300 ms.
void ShortReplyWait();
// Leaves the scratch working directory again.
void Restore();
// Points the client at a loopback port where nothing listens, until `env` goes.
void PointClientAtClosedPort(EnvGuard& env);

// Waits (up to 30 s) until none of the client's workers runs any more.
void WaitForWorkers(const service::ServiceClient& client);

// A fake host, and a client pointed at it that talks to a recording window. The client goes
// first, while its host still listens.
struct HostedClient
{
    FakeServiceHost host;
    RecordingUi ui;
    service::ServiceClient client{ui};

    explicit HostedClient(FakeServiceHost::Responder responder, int batch = 1);
};

// Types the account and password into the boxes, presses login and waits for the worker.
void PressLogin(RecordingUi& ui, service::ServiceClient& client, const QString& account,
                const QString& password);

// "^" + code, a length field, "0" and then `tail`, joined by DC1, as GBK with a terminator.
QByteArray Reply(const QStringList& tail);

QString ConfigValue(const QString& section, const QString& key);
void SetConfigValue(const QString& section, const QString& key, const QString& value);
// Key names of a section of a settings file in the order of their lines.
QStringList KeysInFileOrder(const QString& file, const QString& section);

// The fields of a request the host received, from GBK, without the two zero bytes.
QStringList RequestFields(const QByteArray& request);

} // namespace fixture
