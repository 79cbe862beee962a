#pragma once

#include <QString>

class QQmlEngine;

// Copies the resource ":/" + qrcPath + fileName to osPath + fileName, byte for byte.
void extractFile(QString fileName, QString osPath, QString qrcPath);

// Writes the runtime files into the working directory; true when every required one exists.
bool createFiles();

// Keeps the module descriptors that createFiles() writes from shadowing the installed modules.
void prepareImportPaths(QQmlEngine &engine);
