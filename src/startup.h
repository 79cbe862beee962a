#pragma once

#include <QString>

class QQmlEngine;

// Copies the resource ":/" + qrcPath + fileName to osPath + fileName, byte for byte.
void extractFile(QString fileName, QString osPath, QString qrcPath);

// Writes the runtime files into the working directory; true when every required one exists.
// Module descriptors are written where missing or cut short, each through a temporary file.
bool createFiles();

// Runs createFiles() in the working directory if it can be written and userFolderOnly is false,
// else (or when that fails) in the per-user folder, which then becomes the working directory.
bool provideRuntimeFiles(bool userFolderOnly);

// Lets the window and everything in it grow as one with the desktop's display scaling, also by
// 1.25 or 1.5; point-size fonts in a pixel-fixed window would otherwise outgrow their elements.
// Must run before the application object exists.
void enableHighDpiScaling();

// The whole program: application object, runtime files, scene type, main scene, event loop.
// Returns the exit code: -1 when the runtime files cannot be provided or the window cannot be
// shown. "--user-folder" puts the runtime files into the per-user folder whatever the working one.
int runTalvoUpdater(int &argc, char **argv);

// Opens a file with the desktop's default application for its type; the controller's document
// opener (UpdateDriver::setDocumentOpener) in the window program. False when no application
// could be started for it.
bool openWithDesktop(const QString &absolutePath);

// Keeps the module descriptors that createFiles() writes from shadowing the installed modules.
void prepareImportPaths(QQmlEngine &engine);
