#pragma once

#include <QString>

namespace qv {

// Recognises the password-protected form of an OOXML document: not a zip but a compound file
// (OLE) holding the "EncryptionInfo" and "EncryptedPackage" streams, whatever the name says
// (.docx, .xlsx, .pptx); and a PowerPoint 97-2003 presentation locked with a password, whose
// properties are in an "EncryptedSummary" stream; an Excel or Word 97-2003 file encrypted with
// a password to open; an OpenDocument package whose manifest describes encrypted parts. Reads
// only the container's header, directory and the first records, or the package's manifest.
class OfficeEncryption {
public:
    OfficeEncryption() = delete;

    // False for anything that cannot be read as such a container.
    static bool isEncryptedPackage(const QString& path);

    static const QString passwordProtectedMessage;
};

} // namespace qv
