// The result numbers of the FTP client component. 0 is success; the two
// end-of-listing results are the ones the session knows by number; the others
// are this component's own and only logged.
#pragma once

namespace tavrel::ftpclient {

enum class FtpResult : int {
    kSuccess = 0,
    kNotConnected = 12101,      // an operation that needs the connection was called without one
    kBusy = 12102,              // called from a notification while a transfer runs
    kBadHost = 12103,           // host name empty or its port not a number 1..65535
    kConnectFailed = 12104,     // the server could not be reached
    kLoginRefused = 12105,      // the server refused the user name or password
    kFolderMissing = 12106,     // change folder: the server refused the folder
    kFileMissing = 12107,       // get file / open remote file: the server refused the file
    kTimedOut = 12108,          // no byte moved within the time limit
    kTransferFailed = 12109,    // the connection broke or the server ended the transfer early
    kSizeMismatch = 12110,      // the bytes received differ from the size the server announced
    kLocalFileFailed = 12111,   // the local file could not be written or put in place
    kUnsafeName = 12112,        // a name with a control character, or a remote name with a path
    kNoRemoteFileOpen = 12113,  // read or close without an open remote file
    kRemoteFileTooLarge =
        12114,               // a remote file opened for reading is larger than is kept in memory
    kProtocolError = 12115,  // any other failure of the FTP exchange
    kEndOfListing = 12268,   // read next entry: no more entries
    kNoListingOpen = 12269,  // read next entry / close listing without an open listing
};

constexpr int code(FtpResult result) { return static_cast<int>(result); }

}  // namespace tavrel::ftpclient
