#pragma once
// Ids of the executable's string table.
#define IDS_ERROR_NUMBER 201
#define IDS_BACKUP_COMPLETED 339
#define IDS_SAVING_ERROR 340
#define IDS_UNABLE_TO_OPEN_KEY 452
#define IDS_UNABLE_TO_SET_RESTORE 501
#define IDS_UNABLE_TO_SET_BACKUP 503
