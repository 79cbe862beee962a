import QtQuick 2.6

// A page of the wizard: it fills the body band that holds it and starts hidden. A page is shown
// and hidden by its opacity alone, at once; hidden, it takes no input, nor does anything on it.
Item {
    width: parent ? parent.width : 768
    height: parent ? parent.height : 360
    opacity: 0
    visible: opacity > 0
    enabled: opacity > 0
}
