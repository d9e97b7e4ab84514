#pragma once
// Whether this machine looks online: the dial-up "Remote Connection" flag when
// the system keeps one, else whether the host name resolves to an address
// other than 127.0.0.1.
bool IsConnectedToNet();
