#pragma once
// The host's controls, one header each: flat tool buttons, panels and edits
// with enter/exit handlers, masked edits in the platform's mask notation,
// radio buttons whose click handler also runs when checked by code, group
// boxes, and the data-aware label and navigator. Every handler runs through
// core::dispatch. Include the one header a file needs, or this one for all.

#include "btnpesquisa.h"
#include "controlhelpers.h"
#include "dateeditplus.h"
#include "dbnavigator.h"
#include "dbtext.h"
#include "edit.h"
#include "focustracker.h"
#include "groupbox.h"
#include "maskedit.h"
#include "panel.h"
#include "radiobutton.h"
#include "speedbutton.h"
