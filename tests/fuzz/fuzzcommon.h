#pragma once
// What every fuzz target shares: the input cut into the parts it stands for, a scratch folder
// of its own, files written there, and the one way a target reports a broken invariant. Each
// target also defines FuzzSeeds(): its seed corpus, written out when YFZS_FUZZ_SEEDS names a
// folder (scripts/fuzz does that before it fuzzes).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Parts of one input are separated by this line; missing parts are empty.
inline constexpr char kSplit[] = "\n%%\n";

QList<QByteArray> Split(const uint8_t* data, size_t size, int parts);
QByteArray Join(const QList<QByteArray>& parts);

// A fresh folder under /dev/shm (or $YFZS_FUZZ_TMP) for this process, made on first use.
QString Sandbox();
void WriteFile(const QString& path, QByteArrayView bytes);

// Reports the broken invariant with the values that broke it and aborts, so the fuzzer keeps
// the input.
[[noreturn]] void Fail(const char* what, const QString& detail = {});

} // namespace fuzz

// Defined by each target.
QList<QByteArray> FuzzSeeds();
