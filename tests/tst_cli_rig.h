#pragma once

// praxon-sim and praxon-cli as processes, for the tests of praxon-cli (tst_cliprocess,
// tst_cliproduction).

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <functional>

#include "tst_integration_rig.h"

namespace clirig {

// praxon-sim serving boards: their ports, and their flash (--dump) once it has stopped.
struct Sim {
    QProcess process;
    QStringList ports;
    QString dump;
    bool start(const QStringList& args, const QString& dumpPath, int boards = 1) {
        dump = dumpPath;
        process.start(QCoreApplication::applicationDirPath() + "/praxon-sim",
                      args + QStringList{"--dump", dumpPath, "--boards", QString::number(boards)});
        QElapsedTimer clock;
        clock.start();
        while (ports.size() < boards && clock.elapsed() < 10000) {
            if (!process.canReadLine() && !process.waitForReadyRead(1000)) continue;
            while (process.canReadLine() && ports.size() < boards)
                ports << QString(process.readLine()).trimmed().mid(5);  // PORT=<path>
        }
        return ports.size() == boards;
    }
    // The flash of board k (1-based); stops the simulator, which writes its files then.
    QByteArray flash(int k = 1) {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            process.waitForFinished(5000);
        }
        return rig::readFile(ports.size() == 1 ? dump : dump + '-' + QString::number(k));
    }
    ~Sim() {
        if (process.state() != QProcess::NotRunning) process.kill(), process.waitForFinished(5000);
    }
};

struct Run {
    int exitCode = -1;  // -1: it did not end by itself
    QString out, err;
    QList<QJsonObject> objects;  // --json: stdout's lines
};

// praxon-cli with args. With stopWhen: Ctrl+C as soon as stdout so far satisfies it.
inline Run cli(const QStringList& args, const std::function<bool(const QString&)>& stopWhen = {}) {
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + "/praxon-cli", args);
    if (stopWhen) {
        while (!stopWhen(QString::fromUtf8(p.peek(1 << 20))) && p.waitForReadyRead(20000)) continue;
        if (p.processId() > 0) ::kill(pid_t(p.processId()), SIGINT);  // 0 would hit this test
    }
    Run r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        r.objects << QJsonDocument::fromJson(line.toUtf8()).object();
    return r;
}

}  // namespace clirig
