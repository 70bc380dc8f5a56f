// Helpers for the live-view tests: a record connected through the fake
// driver, and the views' controls read by their names.
#pragma once

#include "AppTest.h"

#include <QCheckBox>
#include <QLabel>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

// The record as the connection dialog leaves it, the fake driver of the
// USB kind loaded into the binding.
struct FakeConnection {
    explicit FakeConnection(uint8_t address)
    {
        DrvInit(ifUsb, data.Handle, TInitParams{});
        data.Kind = ifUsb;
        data.Address = address;
        data.Connected = true;
        fake->log[0] = '\0';
    }
    ~FakeConnection()
    {
        int32_t handle = data.Handle;
        DrvDone(ifUsb, handle);
    }
    // Address, cmd, sub, X, D0..D3 of request i.
    std::array<int32_t, 8> Request(int i) const
    {
        std::array<int32_t, 8> r;
        std::copy_n(fake->requests[i], 8, r.begin());
        return r;
    }
    int Sends() const { return fake->send_count; }

    FakeDriver fake{ifUsb};
    TData data;
};

inline fake_reply Answer(std::array<int32_t, 4> d, int32_t status = 0, int32_t x = 0)
{
    return fake_reply{0, status, x, {d[0], d[1], d[2], d[3]}};
}

inline QString StatusText(const QWidget &w)
{
    return w.findChild<QLabel *>("StatusBar1Panel0")->text();
}

// Label33..Label64, bit 0 first; Bits(word) is the same form of a word.
inline std::string Values(const QWidget &w)
{
    std::string s;
    for (int n = 33; n <= 64; ++n)
        s += w.findChild<QLabel *>(QStringLiteral("Label%1").arg(n))->text().toStdString();
    return s;
}
inline std::string Bits(uint32_t word)
{
    std::string s;
    for (int n = 0; n < 32; ++n)
        s += (word >> n) & 1u ? '1' : '0';
    return s;
}

// CheckBox1..CheckBox32 as an output word.
inline uint32_t Checked(const QWidget &w)
{
    uint32_t word = 0;
    for (int n = 0; n < 32; ++n) {
        if (w.findChild<QCheckBox *>(QStringLiteral("CheckBox%1").arg(n + 1))->isChecked())
            word |= 1u << n;
    }
    return word;
}
