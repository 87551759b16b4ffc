#pragma once

class frm_main;

// Asks for a name (at most 16 bytes in code page 932) and stores the current
// process under it in Process.dat.
void SaveCommand(frm_main& window);
