// The embedded turbo loader binaries: each is a Go-able image for its load address with the
// parameter block in place, and the host picks the one that clears the ROM bootloader's RAM.
#include <QtTest>

#include "LoaderImage.h"

using praxon::flash::kLoaderBinaries;
using praxon::flash::kLoaderBinaryCount;
using praxon::flash::LoaderBinary;
using praxon::flash::LoaderFamily;

namespace {

std::uint32_t Word(const QByteArray& bytes, int offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | std::uint8_t(bytes[offset + i]);
    return value;
}

// RAM end of the smallest part each binary serves: F10x with 10 KB (F103x6), F105/107 and XL
// with 64 KB, F030x8/F05x with 8 KB, F07x with 16 KB, F303x6/F334 with 12 KB.
std::uint32_t SmallestRamEnd(const LoaderBinary& binary) {
    switch (binary.family) {
        case LoaderFamily::F1:
            return binary.loadAddress == 0x20000200 ? 0x20002800 : 0x20010000;
        case LoaderFamily::F0:
            return binary.loadAddress == 0x20000800 ? 0x20002000 : 0x20004000;
        case LoaderFamily::F3:
            return 0x20003000;
    }
    return 0;
}

QByteArray Bytes(const LoaderBinary& binary) {
    return QByteArray(reinterpret_cast<const char*>(binary.bytes), int(binary.size));
}

}  // namespace

class TestLoaderImage : public QObject {
    Q_OBJECT

private slots:
    void everyBinaryStartsAtItsLoadAddress();
    void choice_data();
    void choice();
    void parametersFilledIn();
    void bytesWithoutParameterBlockRefused();
};

void TestLoaderImage::everyBinaryStartsAtItsLoadAddress() {
    QCOMPARE(int(kLoaderBinaryCount), 5);
    for (std::size_t i = 0; i < kLoaderBinaryCount; ++i) {
        const LoaderBinary& binary = kLoaderBinaries[i];
        const QByteArray bytes = Bytes(binary);
        QVERIFY(bytes.size() > 64);
        // Go: stack pointer at word 0 (the loader's stack grows below its image), entry at word 1.
        QCOMPARE(Word(bytes, 0), binary.loadAddress);
        const std::uint32_t entry = Word(bytes, 4);
        QVERIFY2(entry & 1, "entry must be a Thumb address");
        QVERIFY(entry > binary.loadAddress && entry < binary.loadAddress + binary.size);
        QCOMPARE(Word(bytes, praxon::flash::kLoaderParameterOffset), praxon::flash::kLoaderMagic);
        // The receive buffer starts after the image, word-aligned, and leaves at least 512 bytes on
        // the smallest chip the binary serves.
        const std::uint32_t rxStart = praxon::flash::LoaderRxStart(binary);
        QVERIFY(rxStart >= binary.loadAddress + binary.size);
        QCOMPARE(rxStart % 4, 0u);
        QVERIFY2(rxStart + 512 <= SmallestRamEnd(binary), "loader too large for its chips");
    }
}

void TestLoaderImage::choice_data() {
    QTest::addColumn<int>("family");
    QTest::addColumn<quint32>("firstFreeRam");
    QTest::addColumn<quint32>("loadAddress");  // 0: none
    QTest::newRow("F10x") << int(LoaderFamily::F1) << 0x20000200u << 0x20000200u;
    QTest::newRow("F10x XL") << int(LoaderFamily::F1) << 0x20000800u << 0x20001000u;
    QTest::newRow("F105/107") << int(LoaderFamily::F1) << 0x20001000u << 0x20001000u;
    QTest::newRow("F1 above every binary") << int(LoaderFamily::F1) << 0x20001004u << 0u;
    QTest::newRow("F03x") << int(LoaderFamily::F0) << 0x20000800u << 0x20000800u;
    QTest::newRow("F07x") << int(LoaderFamily::F0) << 0x20001800u << 0x20001800u;
    QTest::newRow("F302xB/C") << int(LoaderFamily::F3) << 0x20001400u << 0x20001800u;
    QTest::newRow("F334") << int(LoaderFamily::F3) << 0x20001800u << 0x20001800u;
}

void TestLoaderImage::choice() {
    QFETCH(int, family);
    QFETCH(quint32, firstFreeRam);
    QFETCH(quint32, loadAddress);
    const LoaderBinary* binary = praxon::flash::LoaderFor(LoaderFamily(family), firstFreeRam);
    QCOMPARE(binary ? binary->loadAddress : 0u, loadAddress);
    if (binary) QCOMPARE(int(binary->family), family);
}

void TestLoaderImage::parametersFilledIn() {
    const LoaderBinary* binary = praxon::flash::LoaderFor(LoaderFamily::F1, 0x20000200);
    QVERIFY(binary);
    praxon::flash::LoaderParameters parameters;
    parameters.baud = 921600;
    parameters.ramEnd = 0x20005000;
    parameters.pageSize = 2048;
    parameters.flashSize = 0x100000;
    parameters.bank2Start = 0x08080000;
    const QByteArray image = praxon::flash::LoaderImage(*binary, parameters);
    QCOMPARE(image.size() % 4, 0);
    QVERIFY(image.size() - int(binary->size) < 4);
    QCOMPARE(Word(image, 12), 921600u);
    QCOMPARE(Word(image, 16), 0x20005000u);
    QCOMPARE(Word(image, 20), 2048u);
    QCOMPARE(Word(image, 24), 0x100000u);
    QCOMPARE(Word(image, 28), 0x08080000u);
    // Everything else is the binary as built.
    QCOMPARE(image.left(12), Bytes(*binary).left(12));
    QCOMPARE(image.mid(32, int(binary->size) - 32), Bytes(*binary).mid(32));
}

void TestLoaderImage::bytesWithoutParameterBlockRefused() {
    static const unsigned char junk[40] = {0};
    const LoaderBinary binary{LoaderFamily::F1, 0x20000200, junk, sizeof junk};
    QVERIFY(praxon::flash::LoaderImage(binary, {}).isEmpty());
}

QTEST_GUILESS_MAIN(TestLoaderImage)
#include "tst_loaderimage.moc"
