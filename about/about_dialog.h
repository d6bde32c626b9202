// The version information display of -#.
#pragma once

// Shows the product's version information and returns when it is closed.
void RunAboutDialog();
