// What the window tests share: scripted answers to the user prompts, scratch folders and
// generated sequences.
#pragma once

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QUuid>
#include <deque>

#include "Prompts.h"
#include "SyntheticSequence.h"

namespace shelltest {

// Answers dialogs from queues and records every message box instead of showing it.
class ScriptedPrompts : public tessaro::shell::Prompts {
  public:
    void Warning(QWidget*, const QString& text) override { warnings << text; }
    void Information(QWidget*, const QString& text) override { informations << text; }
    QString OpenFile(QWidget*, const QString& title, const QString&, const QString&) override {
        titles << title;
        if (openAnswers.empty()) return {};
        const QString a = openAnswers.front();
        openAnswers.pop_front();
        return a;
    }
    QString SaveFile(QWidget*, const QString& title, const QString&, const QString&, const QString&) override {
        titles << title;
        if (saveAnswers.empty()) return {};
        const QString a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }
    bool PictureSize(QWidget*, const QString& title, int* width, int* height) override {
        titles << title;
        if (sizeAnswers.empty()) return false;
        *width = sizeAnswers.front().first;
        *height = sizeAnswers.front().second;
        sizeAnswers.pop_front();
        return true;
    }
    bool OpenUrl(const QUrl& url) override {
        urls << url;
        return true;
    }

    QStringList warnings, informations, titles;
    QList<QUrl> urls;
    std::deque<QString> openAnswers, saveAnswers;
    std::deque<std::pair<int, int>> sizeAnswers;
};

// A fresh folder under TESSARO_TEST_TMP (or the system's temporary folder).
inline QString MakeScratch(const QString& name) {
    QString base = qEnvironmentVariable("TESSARO_TEST_TMP");
    if (base.isEmpty()) base = QDir::tempPath();
    const QString path = base + QStringLiteral("/shell-") + name + QLatin1Char('-') +
                         QUuid::createUuid().toString(QUuid::Id128).left(8);
    QDir().mkpath(path);
    return path;
}

// A synthetic sequence of `frames` frames written to `path`.
inline bool WriteSequence(const QString& path, int width, int height, int frames) {
    tessaro::SyntheticOptions o;
    o.width = width;
    o.height = height;
    o.frames = frames;
    const std::vector<uint8_t> bytes = tessaro::GenerateSyntheticSequence(o);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    return file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) ==
           static_cast<qint64>(bytes.size());
}

inline QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace shelltest
