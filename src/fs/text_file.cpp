#include "fs/text_file.h"
