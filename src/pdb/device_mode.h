// The router's device mode as the installer sees it: the flagged state,
// read from the platform once before main, and the allowance of system
// builds (PackageInfo::allowedByDeviceMode, declared in pdb/package.h).
// Callers waive the allowance themselves while "/ram/SECURE" exists.
#ifndef PDB_DEVICE_MODE_H_
#define PDB_DEVICE_MODE_H_

// True while the router is in flagged state; installing a build older than
// the installed one is then refused. Set by a start-up initialiser and
// never changed afterwards.
extern bool flaggedState;

// Asks the platform for the flagged state (second byte of nv::kvoMode()).
// The start-up initialiser of flaggedState uses it.
bool readFlaggedState();

#endif  // PDB_DEVICE_MODE_H_
