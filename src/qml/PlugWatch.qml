import QtQuick 2.6

// Looks about once a second whether a unit's port is listed, while it runs, and tells a change:
// saw() takes each look's answer, and `plugChanged` comes when it differs from what was seen
// before. The first look only notes.
Timer {
    // What the last look saw: 1 a unit's port listed, 0 none, -1 not looked yet. Set from outside
    // where the answer is known otherwise (a search has just met the unit).
    property int seen: -1

    signal plugChanged(bool plugged)

    function saw(plugged) {
        var previous = seen
        seen = plugged ? 1 : 0
        if (previous !== -1 && seen !== previous)
            plugChanged(seen === 1)
    }

    interval: 1000
    repeat: true
}
