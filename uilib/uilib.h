#pragma once
// Everything a program of the skinned-window library includes.
#include "uilib/uibase.h"
#include "uilib/uicontrols.h"
#include "uilib/uimanager.h"
#include "uilib/uiwindow.h"
