#pragma once

#include <QByteArray>

/// Every parser of text from outside the app, one entry each: the tools' output, the store's
/// answers, the files the app keeps, property lists and what a user pastes. Each must return
/// whatever the bytes, without a crash, a hang or undefined behaviour.
namespace FuzzTargets {

void ipatoolAnswer(const QByteArray& bytes);
void lookupAnswer(const QByteArray& bytes);
void cacheFiles(const QByteArray& bytes);
void phoneListing(const QByteArray& bytes);
void cfgutilOutput(const QByteArray& bytes);
void muxOutput(const QByteArray& bytes);
void updateManifest(const QByteArray& bytes);
void propertyList(const QByteArray& bytes);
void appID(const QByteArray& bytes);
void lineCutting(const QByteArray& bytes);
void jsonRoundTrip(const QByteArray& bytes);
void installerOutput(const QByteArray& bytes);

} // namespace FuzzTargets
