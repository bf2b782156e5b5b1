"@@FILE VERSION@@","251"
"@@TABLEDEF START@@"
"ID=Integer,0,""ID"","""",10,Data,"""""
"Filename=String,255,""Filename"","""",255,Data,"""""
"Track=Integer,0,""Track"","""",10,Data,"""""
"Title=String,200,""Title"","""",200,Data,"""""
"Album=String,200,""Album"","""",200,Data,"""""
"Artist=String,100,""Artist"","""",100,Data,"""""
"Time=Time,0,""Time"","""",18,Data,"""""
"@@INDEXDEF START@@"
"PL_IDX_ID=""ID"",""PL_IDX_ID"""
"PL_IDX_Filename=""Filename"",""PL_IDX_Filename"""
"PL_IDX_Track=""Track"",""PL_IDX_Track"""
"PL_IDX_Title=""Title"",""PL_IDX_Title"""
"PL_IDX_Album=""Album;Track"",""PL_IDX_Album"""
"PL_IDX_Artist=""Artist;Album;Track"",""PL_IDX_Artist"""
"PL_IDX_Time=""Time"",""PL_IDX_Time"""
"@@INDEXDEF END@@"
"@@TABLEDEF END@@"
"ID","Filename","Track","Title","Album","Artist","Time",
"1","/music/a.wav",,"a",,,"0:03:25",
"2","/music/专辑/02 b.flac","2","Say ""Hi"", 100%%","专辑","","1:02:05",
"7","/music/c.cue","10","line1%c%nline2",,"X",,
