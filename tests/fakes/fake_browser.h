#pragma once

#include "common/twips.h"
#include "display/browser.h"

#include <QStringList>

// Stands in for wb1: records every call, keeps a history, and reports failures on demand.
class FakeBrowser final : public Browser {
public:
    explicit FakeBrowser(lumira::TwipsFactors factors = {}, QObject* parent = nullptr)
        : Browser(parent), factors_(factors) {}

    QStringList navigations;
    QStringList history;
    int current = -1;
    int stops = 0;
    bool dark = false;
    bool failDuringNavigate = false; // reports the failure before Navigate returns

    void Navigate(const QString& address) override {
        navigations << address;
        history = history.mid(0, current + 1);
        history << address;
        current = int(history.size()) - 1;
        if (failDuringNavigate)
            emit NavigateError();
    }
    bool GoBack() override { return step(-1); }
    bool GoForward() override { return step(+1); }
    void Stop() override { ++stops; }
    void setDark(bool on) override { dark = on; }
    void setWidth(float twips) override {
        width_ = std::max(0, lumira::toPixels(twips, factors_.x));
    }
    void setHeight(float twips) override {
        height_ = std::max(0, lumira::toPixels(twips, factors_.y));
    }
    float Width() const override { return float(width_) * factors_.x; }
    float Height() const override { return float(height_) * factors_.y; }

    QString shown() const { return current >= 0 ? history[current] : QString(); }
    void fail() { emit NavigateError(); }

private:
    bool step(int direction) {
        const int target = current + direction;
        if (target < 0 || target >= history.size())
            return false;
        current = target;
        return true;
    }

    lumira::TwipsFactors factors_;
    int width_ = 0;
    int height_ = 0;
};
