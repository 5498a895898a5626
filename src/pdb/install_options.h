// Bit sets shared by the command line (InstallOptions: what the user
// allows) and the admission checks (AdmissionFlags: what a candidate
// needs allowed). A candidate passes when every flag it raises is allowed.
#ifndef PDB_INSTALL_OPTIONS_H_
#define PDB_INSTALL_OPTIONS_H_

enum InstallOption : unsigned {
  AllowDowngrade = 0x02,   // older than the installed package
  AllowUnmet = 0x08,       // a requirement is unmet
  AllowConflict = 0x10,    // conflicts with an installed package
  AllowReinstall = 0x20,   // same as the installed package
};

#endif  // PDB_INSTALL_OPTIONS_H_
