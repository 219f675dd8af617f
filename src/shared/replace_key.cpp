#include "shared/replace_key.h"

RegReplaceKeyFn RegReplaceKeyEntry = RegReplaceKeyW;
