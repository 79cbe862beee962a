#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

#include <cstdint>

// How one installation or restore ended, as the installer that ran it knows: what failed and
// where, how far it got, and what it left on the unit. A plain value for every front end to turn
// into words, exit codes or JSON; it can travel in a queued signal.
struct InstallOutcome
{
    Q_GADGET

public:
    enum class Failure
    {
        None,             // the image reached the unit whole (and checked out, when verified)
        Image,            // the image was refused before the first frame: imageProblem says why
        Authentication,   // no password attempt was accepted
        Erase,            // no mass-erase attempt was accepted
        Block,            // the block at `address` was not accepted in any attempt
        SizeMismatch,     // every block written, but the image's data bytes are not the size given
        VerifyMismatch,   // written whole, but the CRC of the section at `address` differs from the image's
        VerifyUnanswered, // written whole, but the CRC check of the section at `address` got no answer:
                          // the memory could not be checked, nothing is known to differ
        CannotVerify,     // written whole, but the loader does not know the CRC command
        Stopped,          // a stop request ended it before its next frame
        PortLost,         // the serial line reported the port gone (unplugged, hung up)
    };
    Q_ENUM(Failure)

    // Where an installation stands, for a front end that must know whether stopping now would
    // leave the unit without firmware.
    enum class Phase
    {
        Idle,
        Authenticating, // a refused password erases the unit
        Erasing,
        Writing,
        Verifying
    };
    Q_ENUM(Phase)

    // How the check of the written image with the loader's CRC command ended.
    enum class Verification
    {
        NotRun,      // not asked for, the image was not written whole, or stopped first
        Matched,     // every section's CRC equals the image's
        Differs,     // a checked reply gave another CRC: the memory differs from the image
        NoAnswer,    // no usable reply came in any attempt
        Unsupported, // the loader answered "unknown command": it cannot verify
    };
    Q_ENUM(Verification)

    Failure failure = Failure::None;
    // The block or section the installation ended at (Block, VerifyMismatch, and a stop or a lost
    // port in the write or verify phase); 0 otherwise.
    uint32_t address = 0;
    Phase phase = Phase::Idle; // the last phase entered; Idle when nothing was sent
    // Unless the installation succeeded, the unit has no firmware now, and only a whole image
    // brings it back: a password frame reached the loader (a loader that held firmware has erased
    // it), or, for a restore, the unit was in its loader from the start.
    bool erased = false;
    unsigned int bytesWritten = 0; // data bytes the loader confirmed
    Verification verification = Verification::NotRun;
    QString imageProblem; // for Image: the file, the line and what is wrong
    // Every block of the image was confirmed, the interrupt vectors (written last) among them: the
    // unit starts what its memory holds now, whatever the check found. It is not left in its loader.
    bool writtenWhole = false;

    // Nothing failed once the installation was under way; an outcome of no installation has not.
    bool succeeded() const { return failure == Failure::None && phase != Phase::Idle; }

    bool operator==(const InstallOutcome &other) const
    {
        return failure == other.failure && address == other.address && phase == other.phase &&
               erased == other.erased && bytesWritten == other.bytesWritten &&
               writtenWhole == other.writtenWhole && verification == other.verification &&
               imageProblem == other.imageProblem;
    }
    bool operator!=(const InstallOutcome &other) const { return !(*this == other); }
};
Q_DECLARE_METATYPE(InstallOutcome)
