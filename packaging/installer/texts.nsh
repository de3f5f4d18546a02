; The installer's own texts, Japanese and English (NSIS gives the rest of its pages).
; Included by nbmonitor.nsi as UTF-8.

LangString NbStopping ${LANG_JAPANESE} "nbmonitor を終了しています (bin\nbctl.exe exit --wait)..."
LangString NbStopping ${LANG_ENGLISH} "Stopping nbmonitor (bin\nbctl.exe exit --wait)..."
LangString NbStillRuns ${LANG_JAPANESE} "nbmonitor が終了しないため、処理を中止しました。ファイルは変更していません。$\r$\nタスクトレイのアイコンから nbmonitor を終了してから、もう一度実行してください。"
LangString NbStillRuns ${LANG_ENGLISH} "nbmonitor did not end, so nothing was changed.$\r$\nExit nbmonitor from its tray icon, then run this again."
LangString NbRemoveData ${LANG_JAPANESE} "データも削除する"
LangString NbRemoveData ${LANG_ENGLISH} "Remove the data too"
LangString NbDataExplained ${LANG_JAPANESE} "データ (htdocs\data、backup、logs、conf\nbmonitor.ini) は残します。削除する場合だけチェックしてください。"
LangString NbDataExplained ${LANG_ENGLISH} "The data (htdocs\data, backup, logs, conf\nbmonitor.ini) is kept. Tick the box only to remove it too."
