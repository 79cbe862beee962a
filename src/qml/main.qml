import QtQuick 2.6
import QtQuick.Controls 1.5
import Drivers 1.0

ApplicationWindow {
    id: mainWindow
    objectName: "mainWindow"
    visible: true
    width: 768
    height: 512
    minimumWidth: 768
    maximumWidth: 768
    minimumHeight: 512
    maximumHeight: 512
    color: "#000000"
    title: qsTr("quellmark Update Center")

    UpdateDriver {
        id: updateDriver
        objectName: "updateDriver"
    }
}
