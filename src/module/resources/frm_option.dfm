object frmOption: TfrmOption
  Left = 326
  Top = 144
  Width = 481
  Height = 435
  BorderIcons = [biSystemMenu, biMaximize, biHelp]
  BorderWidth = 2
  Caption = 'Bacnet/IP'
  Color = clBtnFace
  Constraints.MinHeight = 250
  Constraints.MinWidth = 320
  Font.Charset = DEFAULT_CHARSET
  Font.Color = clWindowText
  Font.Height = -11
  Font.Name = 'MS Sans Serif'
  Font.Style = []
  HelpContext = 1
  KeyPreview = True
  Scaled = False
  OnCreate = FormCreate
  OnDestroy = FormDestroy
  PixelsPerInch = 96
  TextHeight = 13
  object __pBot: TPanel
    Left = 2
    Top = 349
    Width = 461
    Height = 45
    Hint = 'OkCancel'
    HelpContext = 1
    Align = alBottom
    BevelOuter = bvNone
    TabOrder = 3
  end
  object pan2: TPanel
    Left = 2
    Top = 320
    Width = 461
    Height = 29
    Align = alBottom
    BevelOuter = bvNone
    TabOrder = 2
    object lblParams: TTntLabel
      Left = 4
      Top = 0
      Width = 32
      Height = 13
      Caption = ''
      Visible = False
    end
    object lblMinInt: TTntLabel
      Left = 0
      Top = 0
      Width = 229
      Height = 26
      AutoSize = False
      Caption = 'Minimal interval between data packets (ms)'
      Layout = tlCenter
      WordWrap = True
    end
    object spMinInt: TJvSpinEdit
      Left = 232
      Top = 4
      Width = 85
      Height = 21
      ButtonKind = bkStandard
      MaxValue = 65535.0
      TabOrder = 0
    end
  end
  object pan1: TPanel
    Left = 2
    Top = 172
    Width = 461
    Height = 148
    Align = alBottom
    BevelOuter = bvNone
    BorderWidth = 2
    TabOrder = 1
    object chkReadDevProp: TTntCheckBox
      Left = 2
      Top = 2
      Width = 457
      Height = 17
      Align = alTop
      Caption = 'Read basic device properties'
      Checked = True
      State = cbChecked
      TabOrder = 0
    end
    object chkFreshOnly: TTntCheckBox
      Left = 2
      Top = 19
      Width = 457
      Height = 17
      Align = alTop
      Caption = 'Deliver only fresh values'
      TabOrder = 1
    end
    object chkDiagnosis: TTntCheckBox
      Left = 2
      Top = 36
      Width = 457
      Height = 17
      Align = alTop
      Caption = 'Explain every request time-out in a second line'
      Checked = True
      State = cbChecked
      TabOrder = 2
    end
    object chkFastPace: TTntCheckBox
      Left = 2
      Top = 53
      Width = 457
      Height = 17
      Align = alTop
      Caption = 'Fast pace (the next request as soon as an answer frees a slot)'
      TabOrder = 3
    end
    object lblInFlight: TTntLabel
      Left = 2
      Top = 75
      Width = 229
      Height = 24
      AutoSize = False
      Caption = 'Requests in flight'
      Layout = tlCenter
    end
    object spInFlight: TJvSpinEdit
      Left = 232
      Top = 77
      Width = 85
      Height = 21
      ButtonKind = bkStandard
      MaxValue = 255.0
      MinValue = 1.0
      Value = 16.0
      TabOrder = 4
    end
    object lblInFlightDev: TTntLabel
      Left = 2
      Top = 101
      Width = 229
      Height = 24
      AutoSize = False
      Caption = 'Requests in flight per device'
      Layout = tlCenter
    end
    object spInFlightDev: TJvSpinEdit
      Left = 232
      Top = 103
      Width = 85
      Height = 21
      ButtonKind = bkStandard
      MaxValue = 255.0
      MinValue = 1.0
      Value = 1.0
      TabOrder = 5
    end
    object chkReadMultiple: TTntCheckBox
      Left = 2
      Top = 129
      Width = 457
      Height = 17
      Caption = 'Read a device''s items with ReadPropertyMultiple'
      TabOrder = 6
    end
  end
  object pan3: TPanel
    Left = 2
    Top = 143
    Width = 461
    Height = 29
    Align = alBottom
    BevelOuter = bvNone
    TabOrder = 4
    object lblBbmd: TTntLabel
      Left = 0
      Top = 0
      Width = 150
      Height = 26
      AutoSize = False
      Caption = 'Broadcast manager (foreign device)'
      Layout = tlCenter
      WordWrap = True
    end
    object edtBbmd: TTntEdit
      Left = 152
      Top = 4
      Width = 120
      Height = 21
      TabOrder = 0
    end
    object spBbmdPort: TJvSpinEdit
      Left = 276
      Top = 4
      Width = 70
      Height = 21
      Hint = 'Port'
      ButtonKind = bkStandard
      MaxValue = 65535.0
      Value = 47808.0
      TabOrder = 1
    end
    object lblBbmdTtl: TTntLabel
      Left = 350
      Top = 0
      Width = 40
      Height = 26
      AutoSize = False
      Caption = 'TTL (s)'
      Layout = tlCenter
    end
    object spBbmdTtl: TJvSpinEdit
      Left = 392
      Top = 4
      Width = 65
      Height = 21
      Hint = 'Time to live (s), 0: off'
      ButtonKind = bkStandard
      MaxValue = 65535.0
      TabOrder = 2
    end
  end
  object pan0: TPanel
    Left = 2
    Top = 2
    Width = 461
    Height = 244
    Align = alClient
    BevelOuter = bvNone
    TabOrder = 0
  end
  object pmStringItems: TTntPopupMenu
    Left = 16
    Top = 16
    object MsgSendReq: TTntMenuItem
      Caption = 'Send requests, otherwise parse response only'
    end
    object DataTypeList: TTntMenuItem
      Tag = 9999
      Caption = ''
    end
    object MsgEndpoint: TTntMenuItem
      Caption = 'Endpoint'
    end
    object MsgInstance: TTntMenuItem
      Caption = 'Instance'
    end
    object MsgReqTimeout: TTntMenuItem
      Caption = 'Request timeout (ms)'
    end
    object MsgReqMethod: TTntMenuItem
      Caption = 'Request method'
    end
    object MsgMOnce: TTntMenuItem
      Caption = 'Once, on the program startup'
    end
    object MsgPolling: TTntMenuItem
      Caption = 'Polling'
    end
    object MsgPollInt: TTntMenuItem
      Caption = 'Interval'
    end
    object MsgPollUnits: TTntMenuItem
      Caption = 'Interval units'
    end
    object MsgLogOnChange: TTntMenuItem
      Caption = 'Log on change (subscribe; polled where the device cannot)'
    end
    object MsgCovLifetime: TTntMenuItem
      Caption = 'Subscription lifetime (s)'
    end
    object MsgSafetyNet: TTntMenuItem
      Caption = 'Safety-net poll interval (s; 0: ten intervals, at least 60)'
    end
    object MsgName: TTntMenuItem
      Caption = 'Export name'
    end
    object TxtMillisecond: TTntMenuItem
      Caption = 'Millisecond'
    end
    object TxtSecond: TTntMenuItem
      Caption = 'Second'
    end
    object TxtMinute: TTntMenuItem
      Caption = 'Minute'
    end
    object TxtHour: TTntMenuItem
      Caption = 'Hour'
    end
    object MsgReq: TTntMenuItem
      Caption = 'Request'
    end
    object MsgResponseItems: TTntMenuItem
      Caption = 'Response items'
    end
    object MsgResponseItem: TTntMenuItem
      Caption = 'Item'
    end
    object MsgDataType: TTntMenuItem
      Caption = 'Data type'
    end
    object PollUnitList: TTntMenuItem
      Tag = 9999
      Caption = ''
    end
  end
end
