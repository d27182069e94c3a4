// Every routine body of the three tables, by the room that holds it.
#pragma once

#include "host/routine.h"

namespace vellix {

// host/
bool Trigger(RunObject& ro, Params& p);                 // condition 7
void SetAutoSave(RunObject& ro, Params& p);             // action 49
void SetCompression(RunObject& ro, Params& p);          // action 50
void SetEncryption(RunObject& ro, Params& p);           // action 51
void SetReadOnly(RunObject& ro, Params& p);             // action 52
void SetCaseSensitiveAction(RunObject& ro, Params& p);  // action 53
void SetEscapes(RunObject& ro, Params& p);              // action 54
void SetQuoteStrings(RunObject& ro, Params& p);         // action 55
void SetRepeatModes(RunObject& ro, Params& p);          // action 56
void SetNewLineString(RunObject& ro, Params& p);        // action 57
void SetDefaultDirectory(RunObject& ro, Params& p);     // action 58
void OpenDialog(RunObject& ro, Params& p);              // action 61
void CloseDialog(RunObject& ro, Params& p);             // action 63
void RefreshDialog(RunObject& ro, Params& p);           // action 64
void SetSubgroups(RunObject& ro, Params& p);            // action 69
void ChangeGlobalSlot(RunObject& ro, Params& p);        // action 70

// store/
bool CurrentGroupExists(RunObject& ro, Params& p);          // condition 0
bool CurrentGroupHasItem(RunObject& ro, Params& p);         // condition 1
bool GroupExistsCondition(RunObject& ro, Params& p);        // condition 3
bool GroupHasItem(RunObject& ro, Params& p);                // condition 4
void SetCurrentGroup(RunObject& ro, Params& p);             // action 0
void SetItemNumberCurrent(RunObject& ro, Params& p);        // action 1
void SetItemStringCurrent(RunObject& ro, Params& p);        // action 2
void DeleteCurrentGroup(RunObject& ro, Params& p);          // action 9
void DeleteItemCurrent(RunObject& ro, Params& p);           // action 10
void RenameCurrentGroup(RunObject& ro, Params& p);          // action 11
void RenameItemCurrent(RunObject& ro, Params& p);           // action 12
void MoveItemCurrent(RunObject& ro, Params& p);             // action 13
void SetItemNumber(RunObject& ro, Params& p);               // action 14
void SetItemString(RunObject& ro, Params& p);               // action 15
void RenameGroupAction(RunObject& ro, Params& p);           // action 22
void RenameItemInGroup(RunObject& ro, Params& p);           // action 23
void MoveItemAction(RunObject& ro, Params& p);              // action 24
void MoveItemToGroup(RunObject& ro, Params& p);             // action 25
void CopyGroupAction(RunObject& ro, Params& p);             // action 26
void CopyItemAction(RunObject& ro, Params& p);              // action 27
void DeleteGroupAction(RunObject& ro, Params& p);           // action 28
void DeleteItemAction(RunObject& ro, Params& p);            // action 29
void DeleteItemEverywhereAction(RunObject& ro, Params& p);  // action 30
void ClearAllAction(RunObject& ro, Params& p);              // action 32
void GroupOperation(RunObject& ro, Params& p);              // action 71
Value GetItemValueCurrent(RunObject& ro, Params& p);        // expression 0
Value GetItemStringCurrent(RunObject& ro, Params& p);       // expression 1
Value NthItemNameCurrent(RunObject& ro, Params& p);         // expression 4
Value NthItemValueCurrent(RunObject& ro, Params& p);        // expression 5
Value NthItemStringCurrent(RunObject& ro, Params& p);       // expression 6
Value ItemCountCurrent(RunObject& ro, Params& p);           // expression 7
Value GetItemValue(RunObject& ro, Params& p);               // expression 8
Value GetItemString(RunObject& ro, Params& p);              // expression 9
Value NthGroup(RunObject& ro, Params& p);                   // expression 12
Value NthItemName(RunObject& ro, Params& p);                // expression 13
Value NthItemString(RunObject& ro, Params& p);              // expression 14
Value NthItemValueExpression(RunObject& ro, Params& p);     // expression 15
Value GroupCountExpression(RunObject& ro, Params& p);       // expression 16
Value ItemCountExpression(RunObject& ro, Params& p);        // expression 17
Value TotalItemsExpression(RunObject& ro, Params& p);       // expression 18
Value NthSortedName(RunObject& ro, Params& p);              // expression 32
Value NthSortedItem(RunObject& ro, Params& p);              // expression 33
Value NthOverallItem(RunObject& ro, Params& p);             // expression 35
Value UniqueItemCount(RunObject& ro, Params& p);            // expression 36
Value CurrentGroupName(RunObject& ro, Params& p);           // expression 38

// format/
void LoadTextIntoIni(RunObject& ro, Params& p);      // action 48
Value WriteStream(RunObject& ro, Params& p);         // expression 25
Value EscapeExpression(RunObject& ro, Params& p);    // expression 28
Value UnescapeExpression(RunObject& ro, Params& p);  // expression 29
Value CurrentGroupString(RunObject& ro, Params& p);  // expression 39

// files/
void MergeFromFile(RunObject& ro, Params& p);         // action 38
void MergeGroupFromFile(RunObject& ro, Params& p);    // action 39
void MergeFromObject(RunObject& ro, Params& p);       // action 40
void MergeGroupFromObject(RunObject& ro, Params& p);  // action 41
void NewIni(RunObject& ro, Params& p);                // action 42
void LoadIni(RunObject& ro, Params& p);               // action 43
void SaveIni(RunObject& ro, Params& p);               // action 44
void SaveIniAs(RunObject& ro, Params& p);             // action 45
void BackupIni(RunObject& ro, Params& p);             // action 46
void CloseIni(RunObject& ro, Params& p);              // action 47
void CompressFileAction(RunObject& ro, Params& p);    // action 59
void DecompressFileAction(RunObject& ro, Params& p);  // action 60
void AddRepeated(RunObject& ro, Params& p);           // action 62
void LoadWithOptions(RunObject& ro, Params& p);       // action 78
Value CryptExpression(RunObject& ro, Params& p);      // expression 27
Value FilenameExpression(RunObject& ro, Params& p);   // expression 40

// search/
bool WildcardMatchCondition(RunObject& ro, Params& p);  // condition 6
void DeleteByPattern(RunObject& ro, Params& p);         // action 31
void FindItems(RunObject& ro, Params& p);               // action 33
void FindRepeats(RunObject& ro, Params& p);             // action 34
void ClearResults(RunObject& ro, Params& p);            // action 35
void SearchIntoFile(RunObject& ro, Params& p);          // action 36
void SearchIntoObject(RunObject& ro, Params& p);        // action 37
void FindSubgroups(RunObject& ro, Params& p);           // action 68
Value SearchResultsCount(RunObject& ro, Params& p);     // expression 19
Value SearchGroup(RunObject& ro, Params& p);            // expression 20
Value SearchItemName(RunObject& ro, Params& p);         // expression 21
Value SearchItemValue(RunObject& ro, Params& p);        // expression 22
Value SearchItemString(RunObject& ro, Params& p);       // expression 23
Value SearchItemPath(RunObject& ro, Params& p);         // expression 24

// undo/
bool UndoAvailableCondition(RunObject& ro, Params& p);  // condition 18
bool RedoAvailableCondition(RunObject& ro, Params& p);  // condition 19
void PerformUndoAction(RunObject& ro, Params& p);       // action 79
void PerformRedoAction(RunObject& ro, Params& p);       // action 80
void ClearUndoAction(RunObject& ro, Params& p);         // action 81
void AddUndoBlockAction(RunObject& ro, Params& p);      // action 82
void SetAutomaticUndoAction(RunObject& ro, Params& p);  // action 83

// calc/
bool CurrentItemEqualsHashed(RunObject& ro, Params& p);    // condition 2
bool ItemEqualsHashedCondition(RunObject& ro, Params& p);  // condition 5
void SetItemHashedCurrent(RunObject& ro, Params& p);       // action 3
void SetItemHashedInGroup(RunObject& ro, Params& p);       // action 16
Value HashExpression(RunObject& ro, Params& p);            // expression 26
Value CalcExpression(RunObject& ro, Params& p);            // expression 30
Value CalcStrExpression(RunObject& ro, Params& p);         // expression 31

// exchange/
void SaveObject(RunObject& ro, Params& p);                 // action 4
void LoadObject(RunObject& ro, Params& p);                 // action 5
void SavePositionCurrent(RunObject& ro, Params& p);        // action 6
void SaveGlobalValues(RunObject& ro, Params& p);           // action 7
void LoadGlobalValues(RunObject& ro, Params& p);           // action 8
void SaveObjectToGroup(RunObject& ro, Params& p);          // action 17
void LoadObjectFromGroup(RunObject& ro, Params& p);        // action 18
void SavePositionToGroup(RunObject& ro, Params& p);        // action 19
void SaveGlobalValuesToGroup(RunObject& ro, Params& p);    // action 20
void LoadGlobalValuesFromGroup(RunObject& ro, Params& p);  // action 21
void CsvImportExport(RunObject& ro, Params& p);            // action 65
void CsvArrayImportExport(RunObject& ro, Params& p);       // action 66
void PutChartData(RunObject& ro, Params& p);               // action 67
void SetItemPart(RunObject& ro, Params& p);                // action 72
void LoadArrayIntoGroup(RunObject& ro, Params& p);         // action 73
void PutGroupIntoArray(RunObject& ro, Params& p);          // action 74
void GetChartData(RunObject& ro, Params& p);               // action 75
void GetChartProperties(RunObject& ro, Params& p);         // action 76
void PutChartProperties(RunObject& ro, Params& p);         // action 77
Value PosXCurrent(RunObject& ro, Params& p);               // expression 2
Value PosYCurrent(RunObject& ro, Params& p);               // expression 3
Value PosX(RunObject& ro, Params& p);                      // expression 10
Value PosY(RunObject& ro, Params& p);                      // expression 11
Value GetCsv(RunObject& ro, Params& p);                    // expression 34
Value GetItemPart(RunObject& ro, Params& p);               // expression 37

}  // namespace vellix
